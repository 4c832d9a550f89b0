// SPDX-License-Identifier: Apache-2.0
#pragma once
// Every word a person reads, in one table: what each outcome means, the
// window's texts and the command line's. The window and kestrawin-cli both
// read it; which surface shows which line is theirs to say. "\n\r" marks a
// line break in the messages written that way; the message boxes show it as
// one break. In the counted texts %1 is a count and %2 the number of files.

#include "Outcome.h"

#include "kestrawin/Version.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kestrawin {

// Short, user-facing reason for an outcome, in lower case without a full stop,
// suitable after "Encryption failed: " or as a second line on the window.
[[nodiscard]] std::string_view OutcomeReason(Outcome outcome);

// "reason (detail)" or just the reason when there is no detail.
[[nodiscard]] std::string DescribeResult(const Result& result);

// After a deletion that left other names (hard links) to the same contents:
// what the user should know, in the same style as OutcomeReason.
[[nodiscard]] std::string OtherNamesNotice(std::uint64_t otherNames);

namespace words {

// The facts that words and code share.
inline constexpr std::string_view kContainerExtension = ".ksw";
inline constexpr std::size_t kMinimumPasswordLength = 6; // characters; fewer is asked about

// `text` with %1, %2... replaced by `values` in one pass (what a value
// brings is never read again as a place).
[[nodiscard]] std::string Fill(std::string_view text,
                               std::initializer_list<std::string_view> values);

// A count in its singular and its plural.
struct Counted {
    const char* one;
    const char* many;
};
// `n` in its singular or plural; with `of`, "%1 of %2", the plural going by `of`.
[[nodiscard]] std::string Count(const Counted& text, std::size_t n);
[[nodiscard]] std::string Count(const Counted& text, std::size_t n, std::size_t of);

// ------------------------------------------------------------------ window

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
// %1 is kMinimumPasswordLength.
inline constexpr const char* ShortPassword = "You have entered a password which has less than %1 "
                                             "characters.\n\rAre you sure you want to continue?";
inline constexpr const char* RemoveQuestion = "Remove the program from the shell?";
inline constexpr const char* Removed = "The program has been removed from the shell.";
// An entry of the context menu that could not be written or removed; %1 is its file.
inline constexpr const char* EntryNotWritten = "Failed to set data for '%1'";
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

// The outcome page.
inline constexpr const char* FileIsEncrypted = "This file is encrypted";
inline constexpr const char* WaitEncrypting = "Please wait while the file is encrypted";
inline constexpr const char* WaitDecrypting = "Please wait while the file is decrypted";
inline constexpr const char* EncryptionCompleted = "Encryption completed";
inline constexpr const char* DecryptionCompleted = "Decryption completed";
inline constexpr const char* InvalidPassword = "Invalid password!";
inline constexpr const char* EncryptionFailed = "Encryption failed";
inline constexpr const char* DecryptionFailed = "Decryption failed";

// Several files.
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

// `kestrawin --help`, and what a start without a graphical session prints.
inline constexpr const char* WindowHelp =
    "Usage: kestrawin                 the main page (with the Uninstall button)\n"
    "       kestrawin FILE [/crypt]   encrypt FILE: the window asks for the password "
    "twice\n"
    "       kestrawin FILE /encrypt   decrypt the container FILE\n"
    "       kestrawin --help | --version\n"
    "\n"
    "Kestrawin is meant to be started from the file manager's context menu:\n"
    "\"Encrypt with \"Kestrawin\"\" on any file, \"Decrypt with \"Kestrawin\"\" on .ksw "
    "files.\n"
    "Every start writes those entries for the current user, pointing at this\n"
    "program file; the Uninstall button on the main page removes them.\n"
    "The window needs a graphical session (X11 or Wayland).\n"
    "A file named --help or --version is reached as ./--help or ./--version.\n"
    "For scripts and terminals: kestrawin-cli --help.\n";
// `kestrawin.exe --help` on Windows.
inline constexpr const char* WindowHelpWindows =
    "Usage: kestrawin                 the main page (with the Uninstall button)\n"
    "       kestrawin FILE [/crypt]   encrypt FILE: the window asks for the password "
    "twice\n"
    "       kestrawin FILE /encrypt   decrypt the container FILE\n"
    "       kestrawin --help | --version\n"
    "\n"
    "Kestrawin is meant to be started from Explorer's context menu:\n"
    "\"Encrypt with \"Kestrawin\"\" on any file, \"Decrypt with \"Kestrawin\"\" on .ksw "
    "files.\n"
    "Every start writes those entries for the current user, pointing at this\n"
    "program file; the Uninstall button on the main page removes them.\n"
    "Several files chosen together open one window and share one password.\n"
    "A file named --help or --version is reached as .\\--help or .\\--version.\n"
    "For scripts and consoles: kestrawin-cli --help.\n";
inline constexpr const char* NoGraphicalSession =
    "kestrawin: cannot open the window: there is no graphical session\n"
    "(neither DISPLAY nor WAYLAND_DISPLAY is set). Start it from your desktop:\n"
    "its application menu, a file manager's context menu or a terminal there.\n"
    "Without a window, kestrawin-cli encrypts and decrypts (kestrawin-cli --help).\n";

// ---------------------------------------------------------------- kestrawin-cli

inline constexpr const char* CliName = "kestrawin-cli";
inline constexpr const char* CliUsage =
    "Usage: kestrawin-cli encrypt [--keep] [--password-file FILE] PATH...\n"
    "       kestrawin-cli decrypt [--keep] [--password-file FILE] PATH...\n"
    "       kestrawin-cli -h | --help | --version\n"
    "\n"
    "encrypt writes PATH.ksw; decrypt writes PATH less the last four characters\n"
    "of its file name. Each input is deleted once its own output is safely on\n"
    "disk, unless --keep is given, and only if it is still the very file that was\n"
    "read: an input changed, replaced, moved or deleted meanwhile is left alone.\n"
    "An existing file of the output's name is replaced, unless it is one of the\n"
    "PATHs (or another PATH's output): that PATH then fails and the other stays.\n"
    "Several PATHs share one password and run side by side, one per processor;\n"
    "each is done on its own: a failure is printed with its path and reason and\n"
    "does not stop the others. PATHs that lead to the same file count once.\n"
    "In an encryption, files ending in .ksw are skipped: said so, but no failure.\n"
    "\n"
    "  --password-file FILE  the password is FILE's first line ('-': standard input);\n"
    "                        without it the password is asked on the terminal\n"
    "  --keep                keep the input file\n"
    "\n"
    "With several PATHs the status is that of the first PATH, in argument order,\n"
    "that failed. Interrupted, the files done before stay done and a line says\n"
    "how many they are.\n"
    "\n"
    "Exit status:\n"
    "    0  success\n"
    "    1  wrong password\n"
    "    2  damaged, or not an encrypted file\n"
    "    3  the input is unreadable or not a regular file, or the output unwritable\n"
    "    4  done, but the input was kept\n"
    "   64  usage error\n"
    "   70  internal error (the crypto library failed) or out of memory\n"
    "  130  interrupted; files not done yet are as they were\n";
inline constexpr const char* CliTryHelp = "Try 'kestrawin-cli --help'.";
// Usage errors; %1 is what was given.
inline constexpr const char* CliMissingCommand = "missing command";
inline constexpr const char* CliUnknownCommand = "unknown command '%1'";
inline constexpr const char* CliUnknownOption = "unknown option '%1'";
inline constexpr const char* CliPasswordFileNeedsFile = "--password-file needs a file";
inline constexpr const char* CliEmptyPath = "an empty PATH";
inline constexpr const char* CliMissingPath = "missing PATH";
// The password.
inline constexpr const char* CliPasswordPrompt = "Password: ";
inline constexpr const char* CliVerifyPrompt = "Verify the password: ";
inline constexpr const char* CliPasswordUnreadable = "cannot read the password from '%1': %2";
// Why, after the above; "-" is standard input.
inline constexpr const char* CliPasswordFileEmpty = "the file is empty";
inline constexpr const char* CliStandardInputEmpty = "standard input is empty";
inline constexpr const char* CliFirstLineTooLong = "the first line is too long";
inline constexpr const char* CliNoTerminal =
    "no terminal to ask the password on; use --password-file";
inline constexpr const char* CliNoPassword = "no password given";
inline constexpr const char* CliPasswordsDiffer = "the two passwords differ";
inline constexpr const char* CliEmptyPassword = "the password is empty";
inline constexpr const char* CliShortPassword = "the password has fewer than %1 characters";
// While the work runs, before the percentage.
inline constexpr const char* CliEncrypting = "Encrypting";
inline constexpr const char* CliDecrypting = "Decrypting";
// Each file's line; %1 is its path, %2 the reason.
inline constexpr const char* CliSkipped = "skipped '%1': %2";
inline constexpr const char* CliCannotEncrypt = "cannot encrypt '%1': %2";
inline constexpr const char* CliCannotDecrypt = "cannot decrypt '%1': %2";
inline constexpr const char* CliFileNotice = "'%1': %2";
inline constexpr const char* CliWarning = "warning: ";
// After an interruption; %1 says what was done of how many.
inline constexpr const char* CliInterrupted = "interrupted: %1; the others are as they were";

} // namespace words
} // namespace kestrawin
