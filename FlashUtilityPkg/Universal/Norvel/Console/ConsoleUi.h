// Console prompts, the progress bar, the coloured screens and frames, and the
// trace-only hex dump.
#ifndef VYR_CONSOLE_UI_H_
#define VYR_CONSOLE_UI_H_

#include "Base.h"

// Console attribute bytes (foreground low nibble, background high nibble).
#define ATTRIBUTE_NORMAL 0x0F        // white on black: restored after every coloured element
#define ATTRIBUTE_WARNING 0x4F       // white on red: AC warning screen, error frames
#define ATTRIBUTE_BAR_FILLED 0x7F    // white on light grey
#define ATTRIBUTE_BAR_EMPTY 0x1F     // white on blue

#define PROGRESS_BAR_WIDTH 75
#define PROGRESS_BAR_WIDTH_ELAPSE 68  // [UI] Elapse: room for the seconds
// The remembered filled-cell count before any bar is drawn: no bar reaches it,
// so the first call always draws the cells.
#define PROGRESS_BAR_NOT_DRAWN 0xEF

#define FRAME_COLUMNS 80
#define FRAME_TEXT_COLUMNS 76  // between "# " and " #"

typedef struct {
  UINT8 LastFilled;       // filled cells drawn last time
  BOOLEAN TimerStarted;   // StartTime holds the start of the block update
  EFI_TIME StartTime;
} CONSOLE_UI_STATE;

extern CONSOLE_UI_STATE mConsoleUi;

VOID ConsoleUiResetState(VOID);

// One key press between the before-dialog and after-dialog hook points.
CHAR16 GetKey(VOID);
VOID WaitKey(VOID);

// The -u prompt: TRUE for 'Y' or 'y'; any other key prints "Exit by user.".
BOOLEAN ConfirmFlash(VOID);

// Marks the start of a block update; the [UI] Elapse bar counts seconds from
// here. A bar drawn before any start takes its first call as the start.
VOID ProgressBarStartTimer(VOID);
// Draws the bar for Percent on the cursor's row. Percent above 100 is drawn as
// 100, so the filled cells never exceed the bar. The cells are redrawn only
// when their count changes; the number always. Leaves the cursor hidden and the
// attribute 0x0F.
VOID ProgressBar(UINTN Percent);

// Lays Text out as Width-character slots, one line per slot, each line centred
// at column (Width - length) / 2 and the slot's last character a LF. Runs of
// CR and LF are one break (empty lines vanish). A line longer than Width is
// wrapped into pieces of Width - 1 characters, each centred in its own slot.
// Text is not changed. Returns a pool buffer the caller frees, or NULL when
// Text is NULL, Width is 0 or there is no memory.
CHAR16 *CenterLines(UINTN Width, CONST CHAR16 *Text);

// Red full-screen AC warning with the message-table text of MessageKey; the
// cursor is left at column 0, row 6 with the attribute 0x0F.
VOID ShowAcWarning(CONST CHAR8 *MessageKey);

// The seven-row red error frame with two right-aligned texts, then a key wait.
// Texts longer than 76 columns are cut to their first 76 characters.
VOID ShowErrorBox(CONST CHAR16 *Line1, CONST CHAR16 *Line2);

// A ready-made frame (80-column rows, no line breaks) in white on red,
// followed by the attribute 0x0F and a line end. No key wait.
VOID ShowRedFrame(CONST CHAR16 *Frame);
// The six-row frame of the power checks: the ERROR top row, Message left-aligned
// in 76 columns (cut beyond), a blank row, "ROM update not performed.",
// "press any key to exit." and the bottom row; shown with ShowRedFrame.
VOID ShowPowerErrorFrame(CONST CHAR16 *Message);

// The end-of-run pause: with [FlashComplete] Pause set, prints the
// [FlashComplete] PauseWarning message and waits for a key.
VOID EndOfRunPause(VOID);

#endif  // VYR_CONSOLE_UI_H_
