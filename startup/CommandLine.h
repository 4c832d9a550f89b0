// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the command line asks for. The file manager starts the program with a
// file's path and a switch: "/crypt" to encrypt, "/encrypt" to decrypt.

#include <string>
#include <vector>

namespace kestrawin::startup {

// The arguments after the program, empty ones left out. Paths are kept as the
// bytes the system gave, so that any file name can be opened again.
[[nodiscard]] std::vector<std::string> ArgumentsOf(int argc, const char* const* argv);

enum Page { MainPage = 0, EncryptPage = 1, DecryptPage = 2, OutcomePage = 3 };

struct PageChoice {
    Page page = MainPage;
    std::string selectedFile; // absolute; set for the Encrypt and Decrypt pages
    // Every file of the start, absolute, in order, each once: selectedFile
    // alone, or the files of a batch.
    std::vector<std::string> selectedFiles;
    bool fileIsEncrypted = false; // the Error page with "This file is encrypted"

    [[nodiscard]] bool batch() const { return selectedFiles.size() > 1; }
};

// "/crypt" or "/encrypt", in any letter case.
[[nodiscard]] bool IsSwitch(const std::string& arg);

// The dispatch of a start. When the second argument is absent or a switch,
// one file, whatever follows:
//   no arguments                                  -> Main page
//   PATH ending exactly ".ksw", no "/encrypt" in
//     any letter case after it                    -> "This file is encrypted"
//   any PATH, then exactly "/encrypt"             -> Decrypt page
//   anything else with a PATH                     -> Encrypt page
// Otherwise the first argument is a file, and so is every later one that
// names something that exists (a file, folder or link), unless it is the
// same file as an earlier one (io::FileIdentity: however spelled). Other
// arguments (switches, stray words) are no files and keep their places.
// Two files or more make a batch:
//   ... then exactly "/encrypt" last              -> Decrypt page for all
//   anything else last                            -> Encrypt page for all
// One file left: the rows above, on the arguments less the repeats.
// A relative PATH is made absolute against `cwd`.
[[nodiscard]] PageChoice ChoosePage(const std::vector<std::string>& args, const std::string& cwd);

// The extension of a path: from its last dot to the end, dot included; empty
// when the last dot lies before the last '/' (on Windows also a backslash or ':')
// or there is none.
[[nodiscard]] std::string ExtensionOf(const std::string& path);

} // namespace kestrawin::startup
