// Host profiles: the simulator set up to behave as a public image editor's
// plug-in host does, one profile per host engine whose source was read
// (README, "What each host provides"). A profile changes only what that
// host does differently from the strict default; the checks stay on.
//
//   HostSimulator host(PluginMain);
//   FindHostProfile("pspihost")->apply(host.options);
#pragma once

#include <string>
#include <vector>

#include "tools/hostsim/host_simulator.h"

struct HostProfile {
    const char* name;
    const char* summary;       // one line on what sets the host apart
    std::vector<int16> modes;  // the image modes the host offers a filter
    bool selection;            // the host can filter a selection
    bool transparency;         // the host hands over a transparency plane
    bool canCancel;            // abortProc can answer true (else only the dialog cancels)
    void (*apply)(HostOptions& options);
};

const std::vector<HostProfile>& HostProfiles();
// Null when no profile has the name.
const HostProfile* FindHostProfile(const std::string& name);
bool HostProfileOffersMode(const HostProfile& profile, int16 mode);
