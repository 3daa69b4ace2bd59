#include "Machine/Console.h"

#include <stdexcept>

#include <termios.h>
#include <unistd.h>

namespace vyr::emu {

std::string Utf16ToUtf8(const std::u16string &Text) {
  std::string Out;
  for (size_t Index = 0; Index < Text.size(); Index++) {
    uint32_t Code = Text[Index];
    if (Code >= 0xD800 && Code <= 0xDBFF && Index + 1 < Text.size() && Text[Index + 1] >= 0xDC00 && Text[Index + 1] <= 0xDFFF) {
      Code = 0x10000 + ((Code - 0xD800) << 10) + (Text[++Index] - 0xDC00);
    } else if (Code >= 0xD800 && Code <= 0xDFFF) {
      Code = 0xFFFD;  // lone surrogate
    }
    if (Code < 0x80) {
      Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
      Out += static_cast<char>(0xC0 | (Code >> 6));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
      Out += static_cast<char>(0xE0 | (Code >> 12));
      Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (Code >> 18));
      Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
  }
  return Out;
}

bool DecodeUtf8(const std::string &Text, std::u16string *Out) {
  bool Valid = true;
  for (size_t Index = 0; Index < Text.size();) {
    const uint8_t Lead = static_cast<uint8_t>(Text[Index]);
    if (Lead < 0x80) {
      Out->push_back(Lead);
      Index++;
      continue;
    }
    uint32_t Code = 0, Least = 0;
    size_t Extra = 0;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
      Code = Lead & 0x1F, Extra = 1, Least = 0x80;
    } else if ((Lead & 0xF0) == 0xE0) {
      Code = Lead & 0x0F, Extra = 2, Least = 0x800;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
      Code = Lead & 0x07, Extra = 3, Least = 0x10000;
    }
    size_t Taken = 1;
    for (; Extra != 0 && Taken <= Extra && Index + Taken < Text.size(); Taken++) {
      const uint8_t Next = static_cast<uint8_t>(Text[Index + Taken]);
      if ((Next & 0xC0) != 0x80) break;
      Code = (Code << 6) | (Next & 0x3F);
    }
    Index += Taken;
    // Stray or cut-short bytes, overlong forms, surrogates and code points past
    // U+10FFFF: one replacement character for what was taken.
    if (Extra == 0 || Taken <= Extra || Code < Least || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) {
      Out->push_back(u'\uFFFD');
      Valid = false;
    } else if (Code >= 0x10000) {
      Code -= 0x10000;
      Out->push_back(static_cast<char16_t>(0xD800 + (Code >> 10)));
      Out->push_back(static_cast<char16_t>(0xDC00 + (Code & 0x3FF)));
    } else {
      Out->push_back(static_cast<char16_t>(Code));
    }
  }
  return Valid;
}

std::u16string Utf8ToUtf16(const std::string &Text) {
  std::u16string Out;
  DecodeUtf8(Text, &Out);
  return Out;
}

std::u16string ControlEscape(char16_t C) {
  if (C < 0x20) return {u'^', static_cast<char16_t>(C + 0x40)};
  if (C == 0x7F) return u"^?";
  // A C1 control is ESC and its 7-bit partner (U+009B, the one-unit CSI, is "ESC [").
  if (C >= 0x80 && C <= 0x9F) return {u'^', u'[', static_cast<char16_t>(C - 0x40)};
  return {};
}

std::string VisibleUtf8(const std::u16string &Text) {
  std::u16string Shown;
  for (char16_t C : Text) {
    const std::u16string Escape = ControlEscape(C);
    Shown += Escape.empty() ? std::u16string(1, C) : Escape;
  }
  return Utf16ToUtf8(Shown);
}

Console::Console(uint32_t Columns, uint32_t Rows) : Columns_(Columns), Rows_(Rows), Cells_(size_t(Columns) * Rows) {}

EFI_STATUS Console::OutputString(const CHAR16 *String) {
  if (String == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::u16string Printed;
  for (const CHAR16 *P = String; *P != 0; P++) {
    const char16_t C = *P;
    switch (C) {
      case u'\r':
        Column_ = 0;
        Printed += C;
        break;
      case u'\n':
        NewLine();
        Printed += C;
        break;
      case u'\b':
        if (Column_ > 0) {
          Column_--;
        } else if (Row_ > 0) {
          Row_--;
          Column_ = Columns_ - 1;
        }
        Printed += C;
        break;
      default: {
        // Any other control character came with data (a name from an image, a
        // word from the command line): it is drawn as its escape, so that it
        // can never drive the operator's terminal.
        const std::u16string Escape = ControlEscape(C);
        for (char16_t Shown : Escape.empty() ? std::u16string(1, C) : Escape) {
          Draw(Shown);
          Printed += Shown;
        }
        break;
      }
    }
  }
  Transcript_ += Utf16ToUtf8(Printed);
  if (Terminal_ != nullptr) {
    TerminalMoveTo(Column_, Row_);
    Terminal_->flush();
  }
  return EFI_SUCCESS;
}

void Console::Draw(char16_t C) {
  At(Column_, Row_) = Cell{C, Attribute_};
  if (Terminal_ != nullptr) {
    TerminalMoveTo(Column_, Row_);
    TerminalAttribute(Attribute_);
    *Terminal_ << Utf16ToUtf8(std::u16string(1, C));
    TermColumn_++;
  }
  if (++Column_ == Columns_) {
    Column_ = 0;
    NewLine();
  }
}

void Console::NewLine() {
  if (Row_ + 1 < Rows_) {
    Row_++;
  } else {
    ScrollUp();
  }
}

void Console::ScrollUp() {
  for (uint32_t Row = 1; Row < Rows_; Row++) {
    for (uint32_t Column = 0; Column < Columns_; Column++) {
      At(Column, Row - 1) = At(Column, Row);
    }
  }
  for (uint32_t Column = 0; Column < Columns_; Column++) {
    At(Column, Rows_ - 1) = Cell{u' ', Attribute_};
  }
  if (Terminal_ != nullptr) {
    // The terminal scrolls with a line feed from the bottom row; what was row r
    // is then row r-1 for both.
    TerminalMoveTo(TermColumn_ < Columns_ ? TermColumn_ : 0, Rows_ - 1);
    TerminalAttribute(Attribute_);
    *Terminal_ << "\r\n";
    TermColumn_ = 0;
  }
}

EFI_STATUS Console::SetAttribute(uintptr_t Attribute) {
  if (Attribute > 0x7F) {
    return EFI_UNSUPPORTED;
  }
  Attribute_ = static_cast<uint8_t>(Attribute);
  return EFI_SUCCESS;
}

EFI_STATUS Console::ClearScreen() {
  for (Cell &C : Cells_) {
    C = Cell{u' ', Attribute_};
  }
  Column_ = Row_ = 0;
  if (Terminal_ != nullptr) {
    TerminalAttribute(Attribute_);
    *Terminal_ << "\x1b[2J\x1b[H";
    Terminal_->flush();
    TermColumn_ = TermRow_ = 0;
  }
  return EFI_SUCCESS;
}

EFI_STATUS Console::SetCursorPosition(uintptr_t Column, uintptr_t Row) {
  if (Column >= Columns_ || Row >= Rows_) {
    return EFI_UNSUPPORTED;
  }
  Column_ = static_cast<uint32_t>(Column);
  Row_ = static_cast<uint32_t>(Row);
  if (Terminal_ != nullptr) {
    TerminalMoveTo(Column_, Row_);
    Terminal_->flush();
  }
  return EFI_SUCCESS;
}

EFI_STATUS Console::EnableCursor(bool Visible) {
  CursorVisible_ = Visible;
  if (Terminal_ != nullptr) {
    *Terminal_ << (Visible ? "\x1b[?25h" : "\x1b[?25l");
    Terminal_->flush();
  }
  return EFI_SUCCESS;
}

std::string Console::RowText(uint32_t Row) const {
  if (Row >= Rows_) {
    return {};
  }
  std::u16string Text;
  for (uint32_t Column = 0; Column < Columns_; Column++) {
    Text += At(Column, Row).Char;
  }
  Text.erase(Text.find_last_not_of(u' ') + 1);
  return Utf16ToUtf8(Text);
}

std::string Console::ScreenText() const {
  std::vector<std::string> Lines;
  for (uint32_t Row = 0; Row < Rows_; Row++) {
    Lines.push_back(RowText(Row));
  }
  while (!Lines.empty() && Lines.back().empty()) {
    Lines.pop_back();
  }
  std::string Out;
  for (size_t Index = 0; Index < Lines.size(); Index++) {
    Out += (Index ? "\n" : "") + Lines[Index];
  }
  return Out;
}

char16_t Console::CellChar(uint32_t Column, uint32_t Row) const {
  return Column < Columns_ && Row < Rows_ ? At(Column, Row).Char : 0;
}

uint8_t Console::CellAttribute(uint32_t Column, uint32_t Row) const {
  return Column < Columns_ && Row < Rows_ ? At(Column, Row).Attribute : 0;
}

void Console::SetTerminal(std::ostream *Terminal) {
  Terminal_ = Terminal;
  // The terminal's cursor is taken to be where the screen's is.
  TermColumn_ = Column_;
  TermRow_ = Row_;
  TermAttribute_ = -1;
}

void Console::TerminalMoveTo(uint32_t Column, uint32_t Row) {
  if (Row > TermRow_) {
    for (uint32_t Step = TermRow_; Step < Row; Step++) {
      *Terminal_ << "\r\n";
    }
    TermColumn_ = 0;
  } else if (Row < TermRow_) {
    *Terminal_ << "\x1b[" << (TermRow_ - Row) << "A";
  }
  TermRow_ = Row;
  if (Column != TermColumn_) {
    if (Column == 0) {
      *Terminal_ << "\r";
    } else {
      *Terminal_ << "\x1b[" << (Column + 1) << "G";
    }
    TermColumn_ = Column;
  }
}

void Console::TerminalAttribute(uint8_t Attribute) {
  if (TermAttribute_ == Attribute) {
    return;
  }
  // UEFI colour order is blue-green-red in bits 0-2; ANSI is red-green-blue.
  static const int Ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  const int Foreground = (Attribute & 0x08 ? 90 : 30) + Ansi[Attribute & 7];
  const int Background = 40 + Ansi[(Attribute >> 4) & 7];
  *Terminal_ << "\x1b[0;" << Foreground << ";" << Background << "m";
  TermAttribute_ = Attribute;
}

namespace {

struct KeyName {
  const char *Name;
  uint16_t Scan;
  char16_t Char;
};

const KeyName kKeyNames[] = {
    {"Enter", 0, u'\r'},     {"Esc", 0x17, 0},      {"Up", 0x01, 0},       {"Down", 0x02, 0},
    {"Right", 0x03, 0},      {"Left", 0x04, 0},     {"Home", 0x05, 0},     {"End", 0x06, 0},
    {"Insert", 0x07, 0},     {"Delete", 0x08, 0},   {"PageUp", 0x09, 0},   {"PageDown", 0x0A, 0},
    {"F1", 0x0B, 0},         {"F2", 0x0C, 0},       {"F3", 0x0D, 0},       {"F4", 0x0E, 0},
    {"F5", 0x0F, 0},         {"F6", 0x10, 0},       {"F7", 0x11, 0},       {"F8", 0x12, 0},
    {"F9", 0x13, 0},         {"F10", 0x14, 0},      {"F11", 0x15, 0},      {"F12", 0x16, 0},
    {"Backspace", 0, u'\b'}, {"Tab", 0, u'\t'},     {"Space", 0, u' '},
};

}  // namespace

void Keyboard::QueueScript(const std::vector<std::string> &Entries) {
  for (const std::string &Entry : Entries) {
    if (Entry.empty()) {
      throw std::invalid_argument("empty key in the key script");
    }
    bool Named = false;
    for (const KeyName &Key : kKeyNames) {
      if (Entry == Key.Name) {
        Queue(Key.Scan, Key.Char);
        Named = true;
        break;
      }
    }
    if (!Named) {
      for (char16_t C : Utf8ToUtf16(Entry)) {
        Queue(0, C);
      }
    }
  }
}

EFI_STATUS Keyboard::ReadKey(EFI_INPUT_KEY *Key, const std::function<void(const std::string &)> &Note) {
  if (Key == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Script_.empty()) {
    *Key = Script_.front();
    Script_.pop_front();
    EmptyPolls_ = 0;
    return EFI_SUCCESS;
  }
  if (Interactive_ && ReadTerminalKey(Key)) {
    return EFI_SUCCESS;
  }
  if (EmptyPolls_ < IdlePolls_) {
    EmptyPolls_++;
    return EFI_NOT_READY;
  }
  EmptyPolls_ = 0;
  Key->ScanCode = 0;
  Key->UnicodeChar = u'\r';
  if (Note) {
    Note("no key scripted: Enter assumed");
  }
  return EFI_SUCCESS;
}

bool Keyboard::ReadTerminalKey(EFI_INPUT_KEY *Key) {
  if (!isatty(STDIN_FILENO)) {
    return false;
  }
  termios Saved;
  if (tcgetattr(STDIN_FILENO, &Saved) != 0) {
    return false;
  }
  termios Raw = Saved;
  Raw.c_lflag &= ~(ICANON | ECHO);
  Raw.c_cc[VMIN] = 1;
  Raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &Raw);
  unsigned char Byte = 0;
  bool Got = read(STDIN_FILENO, &Byte, 1) == 1;
  Key->ScanCode = 0;
  Key->UnicodeChar = Byte;
  if (Got && Byte == 0x1B) {
    // An escape sequence follows quickly; a lone Esc does not.
    Raw.c_cc[VMIN] = 0;
    Raw.c_cc[VTIME] = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &Raw);
    unsigned char Seq[2] = {0, 0};
    Key->UnicodeChar = 0;
    Key->ScanCode = 0x17;
    if (read(STDIN_FILENO, &Seq[0], 1) == 1 && Seq[0] == '[' && read(STDIN_FILENO, &Seq[1], 1) == 1) {
      switch (Seq[1]) {
        case 'A': Key->ScanCode = 0x01; break;
        case 'B': Key->ScanCode = 0x02; break;
        case 'C': Key->ScanCode = 0x03; break;
        case 'D': Key->ScanCode = 0x04; break;
        case 'H': Key->ScanCode = 0x05; break;
        case 'F': Key->ScanCode = 0x06; break;
        default: break;
      }
    }
  } else if (Got && Byte == '\n') {
    Key->UnicodeChar = u'\r';
  } else if (Got && Byte == 0x7F) {
    Key->UnicodeChar = u'\b';
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &Saved);
  return Got;
}

}  // namespace vyr::emu
