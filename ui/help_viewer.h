// Context help: the product's compiled HTML help file (the instruction
// manual), the system's HTML help viewer (hh.exe in the Windows directory),
// and the table that maps a control or menu command to a page of the manual.
//
// A document is the help file path alone (the manual opens at its start
// page) or "<help file>::/<page>". The viewer runs as a process of its own,
// started with "<viewer> ms-its:<document>"; at most one viewer started here
// runs at a time: a new request first posts WM_QUIT to the thread of the last
// one. Every failure is logged with the caption "Debug:  Unexpected Error";
// help then simply does not appear.
//
// User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One row of the help table. Display mode 0 (open the page in the viewer) is
// the only valid mode; a row without a page shows nothing.
struct HelpEntry {
    int32_t displayMode;
    uint32_t controlId;
    const char* page;  // a file name inside the help file
};

// The table, searched from the first row; each identifier has one row at most.
const HelpEntry* GetHelpTable(size_t* rowCount);

// Finds the help file and the viewer; called once by every entry point after
// the per-user folders are made. The help file is "<product common
// folder>\Raylume Pro 2.chm" where an installation put it there, otherwise
// "RaylumePro2.chm" beside the module holding this code (where the build puts
// it). False when the common folder or the Windows directory could not be
// had (then the manual may still be found beside the module).
bool InitializeHelpViewer();

// The help file path found by InitializeHelpViewer (empty before it).
const std::string& GetHelpFilePath();

// The document that DisplayHTMLControlHelp opens for an identifier: the
// help file's start page for an identifier without a row, else the row's
// page inside the help file. False (nothing to open) for a row whose display
// mode is not 0, which is reported, or that has no page.
bool HelpDocumentForControl(uint32_t controlId, std::string& document);

// Help for a control, a menu command or a dialog's Help button.
void DisplayHTMLControlHelp(uint32_t controlId);

// Starts the viewer on a document, ending the viewer started before.
void DisplayHelpInViewer(const char* document);

// Tear-down: ends the viewer started last (WM_QUIT to its thread) and
// forgets it.
void CloseHelpViewer();

// The viewer started last, while it is recorded: its process id (0 when
// none) and the document it was started on (empty when none).
uint32_t HelpViewerProcessId();
const std::string& HelpViewerDocument();
