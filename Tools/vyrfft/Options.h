// Command line of vyrfft: its own options are long ("--name"), so they never
// collide with the utility's options ("-x" or "/x"), which pass through.
#ifndef VYRFFT_OPTIONS_H_
#define VYRFFT_OPTIONS_H_

#include <string>
#include <vector>

namespace vyr::fft {

struct Options {
  std::string machineDir = "vyr-machine";
  std::string profile;           // profile for a machine directory created now
  std::string driver;            // packaged driver image; default: VyrFFT.efi on the first volume
  bool firmware = false;         // UefiFlashMain instead of ShellFlashMain
  std::u16string keys;           // scripted key presses
  std::string report;            // JSON report path
  std::string currentDirectory = "fs0:";
  std::string program = "VyrFFT.efi";  // argument 0 handed to the utility
  int terminal = -1;             // -1 auto (a terminal on stdout), 0 off, 1 on
  bool help = false;
  bool identity = false;          // print the BIOS identity of the machine and stop
  std::string exportBios;         // write the emulated BIOS's set-up file here and stop
  // Developer commands: run one piece of the utility instead of a main entry.
  bool showUsage = false;         // the usage text, as -h shows it
  std::string dumpSettings;       // a platform.ini loaded and its settings dump shown
  std::vector<std::string> utilityArgs;
};

// FALSE with a message for an unknown or incomplete vyrfft option.
bool ParseOptions(const std::vector<std::string> &args, Options &options, std::string &error);
// Key script text: characters as typed; \r or \n is Enter, \e is Esc, \\ a backslash.
bool ParseKeys(const std::string &text, std::u16string &keys, std::string &error);
std::string UsageText();

}  // namespace vyr::fft

#endif  // VYRFFT_OPTIONS_H_
