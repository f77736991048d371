// The texts the server shows: the status captions and the program's version.
#pragma once

// The build gives the version (CMake's project() holds it): "5.1.0" for --version,
// "5.1" for the captions, which have always shown two parts.
#if !defined(DORVANE_VERSION) || !defined(DORVANE_VERSION_MAJOR_MINOR)
#error "DORVANE_VERSION comes from the build: link dorvane_core"
#endif

#define DORVANE_CAPTION_ "Dorvane V" DORVANE_VERSION_MAJOR_MINOR

namespace dorvane {

inline constexpr const char* ProgramTitle = "Dorvane";
inline constexpr const char* ProgramVersion = DORVANE_VERSION;
inline constexpr const char* CaptionIdle = DORVANE_CAPTION_;
inline constexpr const char* CaptionWaiting = DORVANE_CAPTION_ " Waiting...";
inline constexpr const char* CaptionSendingFile = DORVANE_CAPTION_ " Sending file...";
inline constexpr const char* CaptionGettingFile = DORVANE_CAPTION_ " Getting file...";
inline constexpr const char* CaptionSendingDirectory = DORVANE_CAPTION_ " Sending directory...";
inline constexpr const char* CaptionDeleting = DORVANE_CAPTION_ " Deleting...";
inline constexpr const char* CaptionChangingDrive = DORVANE_CAPTION_ " Changing disk drive ...";
inline constexpr const char* CaptionChangingDirectory = DORVANE_CAPTION_ " Changing directory...";
inline constexpr const char* CaptionMakingDirectory = DORVANE_CAPTION_ " Making directory...";
inline constexpr const char* CaptionRenaming = DORVANE_CAPTION_ " Renaming...";

}  // namespace dorvane

#undef DORVANE_CAPTION_
