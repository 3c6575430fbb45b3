#pragma once
// The dialogs around the cleanup report: the completion dialog of a clean run, opening the last
// report, and the help for folders that could not be removed.

#include <cstdint>
#include <string>

#include "ops/desktop.h"

namespace sweepkin {

// The file shipped with the program that explains why a cache folder could not be removed.
inline constexpr const char* kCacheRemovalHelpFileName = "cache-removal-help.html";

// The completion dialog's texts and buttons: "OK", plus, when any failed, the Full Disk Access
// settings button on macOS, or on Linux the paths that stayed with their reasons (`stayed`) and
// a button to the help page.
Alert completionAlert(std::int64_t cleared, std::int64_t freeAfter, std::int64_t freeBefore,
                      bool anyFailed, const QString& stayed = {});

// Shows the completion dialog; its second button opens the access settings (the help page).
void showCompletionDialog(Desktop& desktop, std::int64_t cleared, std::int64_t freeAfter,
                          std::int64_t freeBefore, bool anyFailed, const QString& stayed = {});

// Closes the panel and opens the report, or explains that there is none yet.
void showLastReport(Desktop& desktop, const std::string& reportPath);

// macOS: the Full Disk Access list of the privacy settings. Elsewhere: the shipped help page.
void openFullDiskAccessSettings(Desktop& desktop);

}  // namespace sweepkin
