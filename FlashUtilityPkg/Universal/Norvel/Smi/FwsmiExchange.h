// One FWSMI exchange as every Fwsmi_<nn>h wrapper makes it: the entry trace,
// the inputs placed in the FWSMI buffers, the call, the answers read back, the
// status judged and the exit trace. A wrapper describes its function once, in
// a constant FWSMI_EXCHANGE, and hands each call's data in an
// FWSMI_EXCHANGE_IO. A wrapper that traces or works between the steps calls
// them one by one: Place and Call return NULL to go on, or the exit reason
// that End traces.
#ifndef VYR_FWSMI_EXCHANGE_H_
#define VYR_FWSMI_EXCHANGE_H_

#include "Base.h"
#include "Smi/FwsmiTransport.h"

// The register that receives a buffer's physical address.
#define FWSMI_REG_NONE 0  // the buffer takes no part
#define FWSMI_REG_ECX 1
#define FWSMI_REG_ESI 2
#define FWSMI_REG_EDI 3

// FWSMI_EXCHANGE_BUFFER.Flags: when the buffer is read back into Io->Out...
#define FWSMI_BACK_ALWAYS 0x01      // whatever the status
#define FWSMI_BACK_ON_SUCCESS 0x02  // only after an accepted status
// ...and whether a size of 0 leaves it out (address 0) instead of placing nothing.
#define FWSMI_SKIP_EMPTY 0x04

// FWSMI_EXCHANGE.Flags.
#define FWSMI_REPORT 0x01         // ReportFwsmiError on a status not accepted
#define FWSMI_STOP_ACCEPTED 0x02  // StopStatus counts as success

// A size the call gives in Io->Size instead of the function.
#define FWSMI_SIZE_GIVEN 0xFFFFFFFFu

typedef struct {
  UINT8 Register;
  UINT32 Size;  // bytes placed
  UINT8 Flags;
  UINT32 BackSize;  // bytes read back
} FWSMI_EXCHANGE_BUFFER;

// Makes the call (or the attempts) and returns EAX as the transport reads it back.
typedef UINT32 (*FWSMI_ISSUE)(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut, UINT8 StopStatus);

typedef struct {
  CONST CHAR16 *Name;  // the wrapper's trace name
  UINT8 Function;
  UINT8 Flags;
  UINT8 StopStatus;           // ends the attempts like success (0: none)
  CONST CHAR16 *PlaceFailed;  // exit reason when a buffer cannot be filled
  FWSMI_EXCHANGE_BUFFER Buffer[2];  // FWSMI buffer 1 and 2
  CONST CHAR16 *BackFailed;  // exit reason when an FWSMI_BACK_ON_SUCCESS read fails (NULL: not checked)
  FWSMI_ISSUE Issue;         // NULL: FwsmiCallWithRetry
} FWSMI_EXCHANGE;

typedef struct {
  CONST VOID *In[2];  // placed in buffer 1 and 2
  VOID *Out[2];       // where they are read back to
  UINT32 Size[2];     // for FWSMI_SIZE_GIVEN
  FWSMI_ARGS Args;    // the registers no buffer takes; placing adds the addresses
  UINT32 Address[2];  // out: where the buffers were placed (0: not placed)
  UINT32 Eax;         // out: as the call read it back
  UINT32 Ecx;         // out: for the functions that answer in ECX
} FWSMI_EXCHANGE_IO;

// The steps in one. Missing: an input the wrapper needs is absent.
BOOLEAN FwsmiExchange(CONST FWSMI_EXCHANGE *Exchange, FWSMI_EXCHANGE_IO *Io, BOOLEAN Missing);

// Entry trace; when Missing, also the exit trace "Input buffer is NULL" and FALSE.
BOOLEAN FwsmiExchangeBegin(CONST FWSMI_EXCHANGE *Exchange, BOOLEAN Missing);
// Copies the inputs into the buffers, buffer 1 first, and loads their addresses.
CONST CHAR16 *FwsmiExchangePlace(CONST FWSMI_EXCHANGE *Exchange, FWSMI_EXCHANGE_IO *Io);
// The call, the read-backs in buffer order, and the status: "BIOS return not
// success" for one not accepted, after ReportFwsmiError where the flags ask.
CONST CHAR16 *FwsmiExchangeCall(CONST FWSMI_EXCHANGE *Exchange, FWSMI_EXCHANGE_IO *Io);
// Exit trace; TRUE when Reason is NULL.
BOOLEAN FwsmiExchangeEnd(CONST FWSMI_EXCHANGE *Exchange, CONST CHAR16 *Reason);

// An FWSMI_ISSUE for a submission that must not be repeated: one call, and
// none (0xEF, no trace) before the SMI is set up.
UINT32 FwsmiCallOnce(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut, UINT8 StopStatus);

#endif  // VYR_FWSMI_EXCHANGE_H_
