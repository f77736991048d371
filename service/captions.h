// The texts the server shows: the status captions and the program's version.
#pragma once

namespace dorvane {

inline constexpr const char* ProgramTitle = "Dorvane";
inline constexpr const char* ProgramVersion = "5.1";
inline constexpr const char* CaptionIdle = "Dorvane V5.1";
inline constexpr const char* CaptionWaiting = "Dorvane V5.1 Waiting...";
inline constexpr const char* CaptionSendingFile = "Dorvane V5.1 Sending file...";
inline constexpr const char* CaptionGettingFile = "Dorvane V5.1 Getting file...";
inline constexpr const char* CaptionSendingDirectory = "Dorvane V5.1 Sending directory...";
inline constexpr const char* CaptionDeleting = "Dorvane V5.1 Deleting...";
inline constexpr const char* CaptionChangingDrive = "Dorvane V5.1 Changing disk drive ...";
inline constexpr const char* CaptionChangingDirectory = "Dorvane V5.1 Changing directory...";
inline constexpr const char* CaptionMakingDirectory = "Dorvane V5.1 Making directory...";
inline constexpr const char* CaptionRenaming = "Dorvane V5.1 Renaming...";

}  // namespace dorvane
