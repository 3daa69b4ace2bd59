// Console of the emulated PC: a text screen with attributes and a cursor, the
// transcript of everything printed, an optional mirror to a host terminal, and
// the keyboard with its scripted key presses.
#ifndef VYR_EMU_CONSOLE_H_
#define VYR_EMU_CONSOLE_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Base.h"

namespace vyr::emu {

constexpr uint8_t kDefaultAttribute = 0x07;  // light grey on black, as firmware starts

std::string Utf16ToUtf8(const std::u16string &Text);
// Appends Text decoded from UTF-8 to *Out; FALSE when it is not valid UTF-8
// (each bad sequence then appends one U+FFFD).
bool DecodeUtf8(const std::string &Text, std::u16string *Out);
std::u16string Utf8ToUtf16(const std::string &Text);

// How a control character from data is shown: C0 and DEL in caret notation
// (ESC "^[", BEL "^G", DEL "^?"), a C1 control as ESC's form and its 7-bit
// partner (U+009B "^[["); empty for any other character.
std::u16string ControlEscape(char16_t C);
// Text for a host terminal: every control character, line breaks too, as its
// escape; UTF-8.
std::string VisibleUtf8(const std::u16string &Text);

class Console {
 public:
  Console(uint32_t Columns, uint32_t Rows);

  EFI_STATUS OutputString(const CHAR16 *String);
  EFI_STATUS SetAttribute(uintptr_t Attribute);
  EFI_STATUS ClearScreen();
  EFI_STATUS SetCursorPosition(uintptr_t Column, uintptr_t Row);
  EFI_STATUS EnableCursor(bool Visible);

  uint32_t Columns() const { return Columns_; }
  uint32_t Rows() const { return Rows_; }
  uint32_t CursorColumn() const { return Column_; }
  uint32_t CursorRow() const { return Row_; }
  bool CursorVisible() const { return CursorVisible_; }
  uint8_t Attribute() const { return Attribute_; }

  // Text of one row in UTF-8, trailing blanks removed.
  std::string RowText(uint32_t Row) const;
  // All rows joined with '\n', trailing blank rows removed.
  std::string ScreenText() const;
  char16_t CellChar(uint32_t Column, uint32_t Row) const;
  uint8_t CellAttribute(uint32_t Column, uint32_t Row) const;
  // Everything printed since start, UTF-8: CR, LF and BS as given, any other
  // control character as the escape drawn for it.
  const std::string &Transcript() const { return Transcript_; }

  // Mirror the screen to a host terminal with ANSI colours and cursor moves
  // (nullptr stops mirroring).
  void SetTerminal(std::ostream *Terminal);

 private:
  struct Cell {
    char16_t Char = u' ';
    uint8_t Attribute = kDefaultAttribute;
  };
  Cell &At(uint32_t Column, uint32_t Row) { return Cells_[size_t(Row) * Columns_ + Column]; }
  const Cell &At(uint32_t Column, uint32_t Row) const { return Cells_[size_t(Row) * Columns_ + Column]; }
  void Draw(char16_t C);
  void NewLine();
  void ScrollUp();
  void TerminalMoveTo(uint32_t Column, uint32_t Row);
  void TerminalAttribute(uint8_t Attribute);

  uint32_t Columns_;
  uint32_t Rows_;
  std::vector<Cell> Cells_;
  uint32_t Column_ = 0;
  uint32_t Row_ = 0;
  bool CursorVisible_ = true;
  uint8_t Attribute_ = kDefaultAttribute;
  std::string Transcript_;
  std::ostream *Terminal_ = nullptr;
  uint32_t TermColumn_ = 0;  // where the host terminal's cursor is, in screen terms
  uint32_t TermRow_ = 0;
  int TermAttribute_ = -1;
};

// Key presses: a script first; then the host terminal when interactive; else a
// few "not ready" answers and an assumed Enter, so that no run ever hangs.
class Keyboard {
 public:
  void Queue(uint16_t ScanCode, char16_t UnicodeChar) { Script_.push_back({ScanCode, UnicodeChar}); }
  // Each string is a key name (Enter, Esc, Up, Down, Left, Right, Home, End,
  // PageUp, PageDown, Delete, Backspace, Tab, Space, F1..F12) or literal text
  // whose characters are typed one by one. Throws std::invalid_argument for an
  // empty entry.
  void QueueScript(const std::vector<std::string> &Entries);
  size_t Pending() const { return Script_.size(); }
  void SetIdlePolls(uint32_t Polls) { IdlePolls_ = Polls; }
  // Read from the host terminal when the script is empty (raw mode, restored
  // after each key).
  void SetInteractive(bool Interactive) { Interactive_ = Interactive; }

  // Note receives a line for the machine's notes when Enter is assumed.
  EFI_STATUS ReadKey(EFI_INPUT_KEY *Key, const std::function<void(const std::string &)> &Note);

 private:
  bool ReadTerminalKey(EFI_INPUT_KEY *Key);
  std::deque<EFI_INPUT_KEY> Script_;
  uint32_t IdlePolls_ = 3;
  uint32_t EmptyPolls_ = 0;
  bool Interactive_ = false;
};

}  // namespace vyr::emu

#endif  // VYR_EMU_CONSOLE_H_
