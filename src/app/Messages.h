#pragma once

// Every text the window shows the user, in one place.
namespace lodestrum::app::text {

inline constexpr const char* ApplicationTitle = "Lodestrum 4.1";
inline constexpr const char* WindowCaption = "Lodestrum 4.1Fr";
inline constexpr const char* ErrorTitle = "Lodestrum Error";
inline constexpr const char* DelayErrorTitle = "Error";

inline constexpr const char* Ready = "Pret";
inline constexpr const char* ReadyIdle = "Pret .";
inline constexpr const char* DoubleClickEach = "Double-Click on each file to send it.";

inline constexpr const char* StopQuit = "Quitter";
inline constexpr const char* StopExit = "Exit";
inline constexpr const char* StopStop = "Stop";
inline constexpr const char* StopOk = " OK ";
inline constexpr const char* SendGo = "Go!!!";
inline constexpr const char* SendOne = "Send";
inline constexpr const char* SendSelected = "Send Selected";

inline constexpr const char* HelpFileName = "Lodestrum.rtf";
inline constexpr const char* HelpOpenError = "Unable to open help file: Lodestrum.RTF";
inline constexpr const char* HelpBuiltIn = "[Unable to load help file: 'Lodestrum.RTF']";

inline constexpr const char* RegistryOpenError = "Unable to open registry.";
inline constexpr const char* RegistrySaveError = "Unable to open registery";
inline constexpr const char* StartDirError = "Unable to locate the specified start directory.";
inline constexpr const char* InvalidDelay = "Invalid delay value.";
inline constexpr const char* FileNotFound = "File not found: %1";
inline constexpr const char* UnknownError = "Unknown error";

inline constexpr const char* GroupSaveTitle = "Save group file as:";

inline constexpr const char* ScreenSaveTitle = "Save Screen as:";
inline constexpr const char* BitmapFilter = "Bitmaps (*.bmp)";
inline constexpr const char* PngFilter = "PNG (*.png)";
inline constexpr const char* BitmapExtension = "BMP";
inline constexpr const char* ImageCopied = "Image copied to Clipboard. Ready.";
inline constexpr const char* ImageCopyError = "Error copying image to clipboard. Ready.";
inline constexpr const char* NoScreenImage = "No screen has been captured yet.";
inline constexpr const char* ImageWriteError = "Cannot create file \"%1\". %2";

inline constexpr const char* DriverCaption = "Driver not found";
inline constexpr const char* DriverText =
    "An error occured while trying to load the required driver file DLPORTIO.\n\n"
    "Please install the driver from";
inline constexpr const char* DriverUrl = "https://lodestrum.quarrendale.org/drivers/";

inline constexpr const char* Credits = "Lodestrum 4.1 \u00a9 Quarrendale \u2014 TI calculator link";
inline constexpr const char* MakerUrl = "https://lodestrum.quarrendale.org/";

} // namespace lodestrum::app::text
