#pragma once

// The texts the transfers show a user, in one place.
namespace lodestrum::transfers::text {

inline constexpr const char* ErrorTitle = "Lodestrum Error";
inline constexpr const char* UnableToOpen = "Unable to open file";
inline constexpr const char* NoMemory = "No free memory available!";
inline constexpr const char* UnableToRead = "Unable to read from file";
inline constexpr const char* Damaged =
    "This file is damaged: a variable runs past the end of the file. Nothing of it was sent.";
inline constexpr const char* BadFileTitle = "Bad File";
inline constexpr const char* NotTi8x = "This file is not a TI-8x file!\nContinue?";
inline constexpr const char* NoFlashData = "This file does not contain FLASH data!\nContinue?";
inline constexpr const char* BadCalcTitle = "Bad selected calculator";
inline constexpr const char* FlashOnlyTested =
    "FLASH applications have only been tested on TI89/TI92+\nContinue?";
inline constexpr const char* FlashInfoTitle = "FLASH Info";
inline constexpr const char* AmsInfoTitle = "AMS Info";
inline constexpr const char* Sending = "Sending: ";

inline constexpr const char* Receiving = "Receiving...";
inline constexpr const char* ReceivingName = "Receiving: ";
inline constexpr const char* ReplaceTitle = "Lodestrum";
inline constexpr const char* ReplaceStart = "Replace ";
inline constexpr const char* ReplaceEnd = "?\nPress No to choose another name.";
inline constexpr const char* SaveFileAs = "Save file as:";
inline constexpr const char* SaveBackupAs = "Save backup as:";
inline constexpr const char* UnableToCreate = "Unable to create ";
inline constexpr const char* UnableToCreateFile = "Unable to create file.";
inline constexpr const char* CantWrite = "Can't write to file.";

inline constexpr const char* GettingScreenShot = "Getting ScreenShot...";
inline constexpr const char* UnableToAllocate = "Unable to allocate memory!";

} // namespace lodestrum::transfers::text
