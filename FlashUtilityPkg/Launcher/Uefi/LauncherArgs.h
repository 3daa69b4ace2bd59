// The UEFI launcher's pure helpers: its command line (from the load options a
// shell gives, or from the one-line file VyrFFT.args beside it) and the device
// paths it reads and builds. No firmware calls here, so the host tests them.
#ifndef VYR_LAUNCHER_ARGS_H_
#define VYR_LAUNCHER_ARGS_H_

#include "Base.h"

#define LAUNCHER_LINE_CHARS 512
#define LAUNCHER_MAX_ARGS 32
#define LAUNCHER_PATH_CHARS 260

// Load options are a command line only when they are UCS-2 text: an even
// size, at least one character, printable ASCII (and tabs) up to the
// first NUL or the end. Boot managers pass binary data (a GUID) instead.
// Copies the text into Line (cut at LineChars - 1) and answers TRUE.
BOOLEAN LoadOptionsToLine(CONST VOID *Options, UINT32 Size, CHAR16 *Line, UINTN LineChars);

// The first line of an 8-bit text file (a UTF-8 byte-order mark skipped, the
// line ends at CR, LF or NUL), each byte widened; cut at LineChars - 1.
VOID ArgsFileToLine(CONST UINT8 *Data, UINTN Size, CHAR16 *Line, UINTN LineChars);

// Splits Line in place into words separated by spaces and tabs; double quotes
// group a word with spaces (the quotes are dropped). At most MaxArgs words.
UINT32 SplitLine(CHAR16 *Line, CHAR16 **Argv, UINT32 MaxArgs);

// The directory of an image's file path: the text of all its file-path nodes
// joined, up to and including the last backslash ("\EFI\BOOT\"); "\" when the
// path names no directory. FALSE when the path holds no file-path node or is
// malformed.
BOOLEAN FilePathDirectory(CONST EFI_DEVICE_PATH_PROTOCOL *FilePath, CHAR16 *Directory, UINTN DirectoryChars);

// The last component of an image's file path ("BOOTX64.EFI").
BOOLEAN FilePathName(CONST EFI_DEVICE_PATH_PROTOCOL *FilePath, CHAR16 *Name, UINTN NameChars);

// Size in bytes of a device path up to, not including, its end node; 0 when
// malformed (a node shorter than its header, or longer than MaxBytes in all).
UINTN DevicePathSize(CONST EFI_DEVICE_PATH_PROTOCOL *Path, UINTN MaxBytes);

// Writes Device (without its end node), a file-path node for Path and an end
// node into Buffer. NULL when it does not fit or Device is malformed.
EFI_DEVICE_PATH_PROTOCOL *AppendFilePathNode(CONST EFI_DEVICE_PATH_PROTOCOL *Device, CONST CHAR16 *Path, VOID *Buffer,
                                             UINTN BufferSize);

#endif  // VYR_LAUNCHER_ARGS_H_
