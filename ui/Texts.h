// SPDX-License-Identifier: Apache-2.0
#pragma once
// Every text the window shows, in one place. "\n\r" marks a line break in the
// two messages written that way; the message boxes show it as one break.

#include "kestrawin/Version.h"

namespace kestrawin::ui::texts {

// Window and title band.
inline constexpr const char* ApplicationTitle = "Kestrawin";
inline constexpr const char* WindowCaption = "Pellmora";
inline constexpr const char* MessageCaption = "Kestrawin " KESTRAWIN_VERSION_SHORT;
inline constexpr const char* TitleBand = "Kestrawin";

// Main page.
inline constexpr const char* MainLine1 = "Please use the context menu";
inline constexpr const char* MainLine2 = "to encrypt and decrypt your file";

// Encrypt and Decrypt pages.
inline constexpr const char* EnterPasswordBox = "  Enter a password  ";
inline constexpr const char* VerifyPasswordBox = "  Verify the password  ";
inline constexpr const char* DecryptionBox = " Decryption ";
inline constexpr const char* DecryptLine1 = "Enter the password used";
inline constexpr const char* DecryptLine2 = "to encrypt the file";

// What screen readers call the password fields and the progress bar.
inline constexpr const char* EnterPasswordName = "Enter a password";
inline constexpr const char* VerifyPasswordName = "Verify the password";
inline constexpr const char* PasswordName = "Password";
inline constexpr const char* EncryptionProgress = "Encryption progress";
inline constexpr const char* DecryptionProgress = "Decryption progress";

// Buttons.
inline constexpr const char* Uninstall = "Uninstall";
inline constexpr const char* Update = "Update";
inline constexpr const char* Encrypt = "Encrypt";
inline constexpr const char* Decrypt = "Decrypt";
inline constexpr const char* Close = "Close";

// Message boxes.
inline constexpr const char* NoPassword = "You have not entered a password!";
inline constexpr const char* DifferentPasswords =
    "You have entered two different passwords.\n\rPlease make sure the password match.";
inline constexpr const char* ShortPassword = "You have entered a password which has less than 6 "
                                             "characters.\n\rAre you sure you want to continue?";
inline constexpr const char* RemoveQuestion = "Remove the program from the shell?";
inline constexpr const char* Removed = "The program has been removed from the shell.";
// Closing the window while the work runs (the work waits for the answer).
inline constexpr const char* StopEncrypting =
    "The file is still being encrypted.\n\rDo you want to stop? The file will stay as it was.";
inline constexpr const char* StopDecrypting =
    "The file is still being decrypted.\n\rDo you want to stop? The file will stay as it was.";
inline constexpr const char* StopEncryptingMany = "The files are still being encrypted.\n\rDo you "
                                                  "want to stop? Files not finished yet stay as "
                                                  "they were.";
inline constexpr const char* StopDecryptingMany = "The files are still being decrypted.\n\rDo you "
                                                  "want to stop? Files not finished yet stay as "
                                                  "they were.";
// The context-menu entries could not be written at start; %1 is the folder.
inline constexpr const char* EntriesNotWritten =
    "Kestrawin could not add its entries to your file manager's menus (it cannot write in "
    "%1).\nEncrypting and decrypting work as usual.";

// Error page.
inline constexpr const char* FileIsEncrypted = "This file is encrypted";
inline constexpr const char* WaitEncrypting = "Please wait while the file is encrypted";
inline constexpr const char* WaitDecrypting = "Please wait while the file is decrypted";
inline constexpr const char* EncryptionCompleted = "Encryption completed";
inline constexpr const char* DecryptionCompleted = "Decryption completed";
inline constexpr const char* InvalidPassword = "Invalid password!";
inline constexpr const char* EncryptionFailed = "Encryption failed";
inline constexpr const char* DecryptionFailed = "Decryption failed";
// Several files. %1 is a count, %2 the number of files; a count comes with
// its singular and its plural.
struct Counted {
    const char* one;
    const char* many;
};
inline constexpr const char* WaitEncryptingMany = "Please wait while %1 files are encrypted";
inline constexpr const char* WaitDecryptingMany = "Please wait while %1 files are decrypted";
inline constexpr Counted FilesEncrypted = {"%1 file encrypted", "%1 files encrypted"};
inline constexpr Counted FilesDecrypted = {"%1 file decrypted", "%1 files decrypted"};
inline constexpr Counted SomeFilesEncrypted = {"%1 of %2 file encrypted",
                                               "%1 of %2 files encrypted"};
inline constexpr Counted SomeFilesDecrypted = {"%1 of %2 file decrypted",
                                               "%1 of %2 files decrypted"};
inline constexpr Counted LeftAsTheyWere = {"%1 already encrypted file left as it was",
                                           "%1 already encrypted files left as they were"};
inline constexpr Counted OriginalsKept = {"%1 original file could not be deleted",
                                          "%1 original files could not be deleted"};
// In Details, after the name of a file skipped that way.
inline constexpr const char* LeftAsItWas = "Already encrypted, left as it was";
inline constexpr const char* Details = "Details";
inline constexpr const char* EncryptionStopped = "Encryption stopped";
inline constexpr const char* DecryptionStopped = "Decryption stopped";
// Second line after a stop.
inline constexpr const char* NothingChanged = "The file has not been changed";
// In Details, a file the stop caught.
inline constexpr const char* FileStopped = "Stopped, the file has not been changed";

} // namespace kestrawin::ui::texts
