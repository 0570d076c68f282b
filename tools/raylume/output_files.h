// How raylume's outputs replace files: every output (image, catalogue,
// settings) is written to a temporary file beside its target, and a job's
// outputs are put in place together once all of them are complete, so that a
// failure leaves each old file as it was and never one output without the
// other.
//
// The target of a path is the file it names after following symbolic links
// (the link stays and now shows the new content). A file that is replaced
// keeps its permission bits and, where the user may set them, its owner and
// group. A read-only file is not replaced.
//
// Temporary files are named TARGET.raylume-PID-N.tmp. They are removed when
// writing fails, on every signal the tool catches, and, when a process died
// without removing them (kill -9, a power cut), by the next run that writes
// into the same folder.
#pragma once

#include <string>
#include <vector>

struct PendingOutput {
    std::string path;       // as the user named it
    std::string target;     // the file written: `path` with its links followed
    std::string temporary;  // the complete new content, not yet in place
};

// Where an output goes: follows symbolic links (a dangling link names the file
// it will create) and checks that the target may be replaced: not a folder,
// not read-only, in a folder that exists. False with one sentence.
bool ResolveOutputTarget(const std::string& path, std::string* target, std::string* error);

// A new temporary name beside `target`, remembered for the signal clean-up.
std::string NewTemporaryFor(const std::string& target);
// The temporary is gone (put in place or removed): no longer remembered.
void ForgetTemporary(const std::string& temporary);

// Flushes a written temporary to the disk and gives it the mode and owner of
// the file it replaces. False with the system's reason.
bool FinishTemporary(const PendingOutput& output, std::string* error);
// Puts every pending output in place, in order. False with the reason when
// one could not be; those already in place stay, the rest are removed.
bool CommitOutputs(std::vector<PendingOutput>* outputs, std::string* error);
// Removes the temporaries of outputs that will not be put in place.
void DiscardOutputs(std::vector<PendingOutput>* outputs);

// Removes every remembered temporary: safe to call from a signal handler.
void RemoveTemporariesNow();
// Removes, in `folder`, the temporaries that processes no longer running
// left behind. Returns how many.
int RemoveStaleTemporaries(const std::string& folder);
