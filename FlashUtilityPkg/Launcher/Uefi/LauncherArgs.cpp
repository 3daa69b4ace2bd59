#include "LauncherArgs.h"

#include "BaseLib.h"

#define FILE_PATH_NODE_TYPE MEDIA_DEVICE_PATH
#define FILE_PATH_NODE_SUBTYPE 0x04
#define NODE_HEADER_BYTES 4
#define MAX_DEVICE_PATH_BYTES 4096

// Printable ASCII and tabs: binary option data (a GUID) read as UCS-2 almost
// never stays inside that range, while any Unicode letter would.
static BOOLEAN IsPrintable(CHAR16 C) { return (C >= 0x20 && C < 0x7F) || C == u'\t'; }

BOOLEAN LoadOptionsToLine(CONST VOID *Options, UINT32 Size, CHAR16 *Line, UINTN LineChars) {
  if (Line == NULL || LineChars == 0) {
    return FALSE;
  }
  Line[0] = 0;
  if (Options == NULL || Size < 2 || (Size & 1) != 0) {
    return FALSE;
  }
  CONST UINT8 *Bytes = (CONST UINT8 *)Options;
  UINTN Chars = Size / 2;
  UINTN Length = 0;
  while (Length < Chars) {
    CHAR16 C = (CHAR16)(Bytes[2 * Length] | (Bytes[2 * Length + 1] << 8));
    if (C == 0) {
      break;
    }
    if (!IsPrintable(C)) {
      return FALSE;
    }
    Length++;
  }
  if (Length == 0) {
    return FALSE;
  }
  UINTN Copy = Length < LineChars - 1 ? Length : LineChars - 1;
  for (UINTN I = 0; I < Copy; I++) {
    Line[I] = (CHAR16)(Bytes[2 * I] | (Bytes[2 * I + 1] << 8));
  }
  Line[Copy] = 0;
  return TRUE;
}

VOID ArgsFileToLine(CONST UINT8 *Data, UINTN Size, CHAR16 *Line, UINTN LineChars) {
  if (Line == NULL || LineChars == 0) {
    return;
  }
  UINTN Start = 0;
  if (Data != NULL && Size >= 3 && Data[0] == 0xEF && Data[1] == 0xBB && Data[2] == 0xBF) {
    Start = 3;
  }
  UINTN Out = 0;
  for (UINTN I = Start; Data != NULL && I < Size && Out < LineChars - 1; I++) {
    if (Data[I] == '\r' || Data[I] == '\n' || Data[I] == 0) {
      break;
    }
    Line[Out++] = Data[I];
  }
  Line[Out] = 0;
}

UINT32 SplitLine(CHAR16 *Line, CHAR16 **Argv, UINT32 MaxArgs) {
  if (Line == NULL || Argv == NULL) {
    return 0;
  }
  UINT32 Count = 0;
  CHAR16 *Read = Line;
  CHAR16 *Write = Line;
  while (*Read != 0) {
    while (*Read == u' ' || *Read == u'\t') {
      Read++;
    }
    if (*Read == 0) {
      break;
    }
    if (Count == MaxArgs) {
      break;
    }
    // Words are compacted towards the start as quotes are dropped; the
    // terminator written after a word never lies ahead of the reading point.
    Argv[Count++] = Write;
    BOOLEAN Quoted = FALSE;
    while (*Read != 0 && (Quoted || (*Read != u' ' && *Read != u'\t'))) {
      if (*Read == u'"') {
        Quoted = !Quoted;
        Read++;
        continue;
      }
      *Write++ = *Read++;
    }
    BOOLEAN End = *Read == 0;
    if (!End) {
      Read++;
    }
    *Write++ = 0;
    if (End) {
      break;
    }
  }
  return Count;
}

static UINT16 NodeLength(CONST UINT8 *Node) { return (UINT16)(Node[2] | (Node[3] << 8)); }

static BOOLEAN IsEndNode(CONST UINT8 *Node) {
  return Node[0] == END_DEVICE_PATH_TYPE && Node[1] == END_ENTIRE_DEVICE_PATH_SUBTYPE;
}

UINTN DevicePathSize(CONST EFI_DEVICE_PATH_PROTOCOL *Path, UINTN MaxBytes) {
  if (Path == NULL) {
    return 0;
  }
  CONST UINT8 *Node = (CONST UINT8 *)Path;
  UINTN Size = 0;
  while (Size + NODE_HEADER_BYTES <= MaxBytes) {
    if (IsEndNode(Node + Size)) {
      return Size;
    }
    UINT16 Length = NodeLength(Node + Size);
    if (Length < NODE_HEADER_BYTES) {
      return 0;
    }
    Size += Length;
  }
  return 0;
}

// Joins the text of every file-path node of FilePath into Text.
static BOOLEAN FilePathText(CONST EFI_DEVICE_PATH_PROTOCOL *FilePath, CHAR16 *Text, UINTN TextChars) {
  if (FilePath == NULL || Text == NULL || TextChars == 0) {
    return FALSE;
  }
  Text[0] = 0;
  UINTN Size = DevicePathSize(FilePath, MAX_DEVICE_PATH_BYTES);
  if (Size == 0) {
    return FALSE;
  }
  CONST UINT8 *Bytes = (CONST UINT8 *)FilePath;
  UINTN Out = 0;
  BOOLEAN Found = FALSE;
  for (UINTN Offset = 0; Offset < Size; Offset += NodeLength(Bytes + Offset)) {
    CONST UINT8 *Node = Bytes + Offset;
    if (Node[0] != FILE_PATH_NODE_TYPE || Node[1] != FILE_PATH_NODE_SUBTYPE) {
      continue;
    }
    UINTN Chars = (NodeLength(Node) - NODE_HEADER_BYTES) / 2;
    for (UINTN I = 0; I < Chars; I++) {
      CHAR16 C = (CHAR16)(Node[NODE_HEADER_BYTES + 2 * I] | (Node[NODE_HEADER_BYTES + 2 * I + 1] << 8));
      if (C == 0) {
        break;
      }
      // Consecutive nodes name a directory and what lies in it: exactly one
      // separator between them.
      if (I == 0 && Found && (Out == 0 || Text[Out - 1] != u'\\') && C != u'\\') {
        if (Out + 1 >= TextChars) {
          return FALSE;
        }
        Text[Out++] = u'\\';
      }
      if (I == 0 && C == u'\\' && Out > 0 && Text[Out - 1] == u'\\') {
        continue;
      }
      if (Out + 1 >= TextChars) {
        return FALSE;
      }
      Text[Out++] = C;
    }
    Found = TRUE;
  }
  Text[Out] = 0;
  return Found;
}

BOOLEAN FilePathDirectory(CONST EFI_DEVICE_PATH_PROTOCOL *FilePath, CHAR16 *Directory, UINTN DirectoryChars) {
  CHAR16 Text[LAUNCHER_PATH_CHARS];
  if (Directory == NULL || DirectoryChars < 2 || !FilePathText(FilePath, Text, LAUNCHER_PATH_CHARS)) {
    return FALSE;
  }
  UINTN Cut = 0;
  for (UINTN I = 0; Text[I] != 0; I++) {
    if (Text[I] == u'\\') {
      Cut = I + 1;
    }
  }
  if (Cut == 0 || Text[0] != u'\\') {
    StrCpyS(Directory, DirectoryChars, u"\\");  // a bare name lies in the root
    return TRUE;
  }
  if (Cut + 1 > DirectoryChars) {
    return FALSE;
  }
  Text[Cut] = 0;
  StrCpyS(Directory, DirectoryChars, Text);
  return TRUE;
}

BOOLEAN FilePathName(CONST EFI_DEVICE_PATH_PROTOCOL *FilePath, CHAR16 *Name, UINTN NameChars) {
  CHAR16 Text[LAUNCHER_PATH_CHARS];
  if (Name == NULL || NameChars == 0 || !FilePathText(FilePath, Text, LAUNCHER_PATH_CHARS)) {
    return FALSE;
  }
  UINTN Start = 0;
  for (UINTN I = 0; Text[I] != 0; I++) {
    if (Text[I] == u'\\') {
      Start = I + 1;
    }
  }
  if (Text[Start] == 0 || StrLen(Text + Start) + 1 > NameChars) {
    return FALSE;
  }
  StrCpyS(Name, NameChars, Text + Start);
  return TRUE;
}

EFI_DEVICE_PATH_PROTOCOL *AppendFilePathNode(CONST EFI_DEVICE_PATH_PROTOCOL *Device, CONST CHAR16 *Path, VOID *Buffer,
                                             UINTN BufferSize) {
  if (Device == NULL || Path == NULL || Buffer == NULL) {
    return NULL;
  }
  UINT8 *Out = (UINT8 *)Buffer;
  CONST UINT8 *DeviceBytes = (CONST UINT8 *)Device;
  UINTN DeviceSize = IsEndNode(DeviceBytes) ? 0 : DevicePathSize(Device, MAX_DEVICE_PATH_BYTES);
  if (DeviceSize == 0 && !IsEndNode(DeviceBytes)) {
    return NULL;
  }
  UINTN PathChars = StrLen(Path) + 1;
  UINTN NodeSize = NODE_HEADER_BYTES + PathChars * 2;
  if (NodeSize > 0xFFFF || DeviceSize + NodeSize + NODE_HEADER_BYTES > BufferSize) {
    return NULL;
  }
  CopyMem(Out, Device, DeviceSize);
  UINT8 *Node = Out + DeviceSize;
  Node[0] = FILE_PATH_NODE_TYPE;
  Node[1] = FILE_PATH_NODE_SUBTYPE;
  Node[2] = (UINT8)(NodeSize & 0xFF);
  Node[3] = (UINT8)(NodeSize >> 8);
  for (UINTN I = 0; I < PathChars; I++) {
    Node[NODE_HEADER_BYTES + 2 * I] = (UINT8)(Path[I] & 0xFF);
    Node[NODE_HEADER_BYTES + 2 * I + 1] = (UINT8)(Path[I] >> 8);
  }
  UINT8 *End = Node + NodeSize;
  End[0] = END_DEVICE_PATH_TYPE;
  End[1] = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  End[2] = NODE_HEADER_BYTES;
  End[3] = 0;
  return (EFI_DEVICE_PATH_PROTOCOL *)Out;
}
