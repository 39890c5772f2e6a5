// Recovery: at start-up, the recordings in the recording folder that a crash left unfinished are
// rebuilt from their recovery notes; the user is told what was done.
#pragma once

#include "media/AviRecovery.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mainwin {

// What became of one file with a recovery note.
struct TRecoveredFile {
    std::wstring name; // the recording's file name, without the folder
    media::RecoveryOutcome outcome = media::RecoveryOutcome::LeftAlone;
    std::uint32_t frames = 0;
    std::string why;
};

// Looks at every recovery note in folder that no running recording holds (a held note is
// skipped: its file is being written). A finished file loses its stale note; an unfinished one
// is rebuilt in place and then loses its note. A file that cannot be rebuilt, and its note,
// stay as they are, with the reason.
std::vector<TRecoveredFile> RecoverRecordings(const std::wstring& folder);

// The message for the user: the files rebuilt with their frame counts and the files left as
// they are with the reasons; empty when there is nothing to tell.
std::wstring RecoveryReport(const std::vector<TRecoveredFile>& files);

} // namespace mainwin
