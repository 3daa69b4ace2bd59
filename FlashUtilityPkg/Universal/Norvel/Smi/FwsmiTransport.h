// The FWSMI transport: command port and main function number, the two
// physical exchange buffers, the register contract of every function, the
// retry policy and the error messages.
#ifndef VYR_FWSMI_TRANSPORT_H_
#define VYR_FWSMI_TRANSPORT_H_

#include "Base.h"

#define FWSMI_DEFAULT_MAIN_FUNCTION 0xEF
#define FWSMI_DEFAULT_BUFFER_SIZE 0x20000
#define FWSMI_MAX_ADDRESS 0x0FFFFFFF
#define FWSMI_SETTLE_COUNT 0x100000
// "$Vyr": '$' in the most significant byte, 'r' in the least.
#define FWSMI_SIGNATURE 0x24567972u

#define FWSMI_STATUS_SUCCESS 0x00
#define FWSMI_STATUS_NOT_SUPPORTED 0xEF

typedef struct {
  UINT32 Address;  // physical; 0 = none
  UINT32 Size;
} FWSMI_BUFFER;

typedef struct {
  UINT16 CommandPort;
  UINT8 MainFunction;
  FWSMI_BUFFER Buffer[2];  // FWSMI buffer 1 and 2
  UINT8 Reserved;          // buffers lie in BIOS reserved memory
  UINT32 ReservedBase;
  UINT32 ReservedSize;
  UINT8 Initialized;
} FWSMI_TRANSPORT;

extern FWSMI_TRANSPORT mFwsmi;

// Caller-supplied register values; the function's catalogue row decides which
// of them are loaded and which registers are cleared instead.
typedef struct {
  UINT32 Ecx;
  UINT32 Esi;
  UINT32 Edi;
} FWSMI_ARGS;

VOID FwsmiResetState(VOID);

// Set-up.
MUST_CHECK BOOLEAN AllocateFwsmiBuffers(VOID);
BOOLEAN InitialSmi(VOID);
BOOLEAN FindSMICommandPort(VOID);
UINT8 GetSmiMainFunctionNumberFromPhysicalMemory(VOID);
BOOLEAN FindRsdp(EFI_PHYSICAL_ADDRESS *Rsdp);
BOOLEAN GetFacpTableAddress(UINT32 *Address);
BOOLEAN GetAcpiFwsmTable(UINT8 **Copy, UINT32 *Length);
BOOLEAN IsAcerPlatform(VOID);
BOOLEAN InitBiosReservedMemory(VOID);
BOOLEAN SetBiosReservedMemory(UINT32 Address, UINT32 Size);
VOID FreeFwsmiBuffers(VOID);

// Buffers.
MUST_CHECK BOOLEAN CopyToFwsmiBuffer(UINT8 Which, CONST VOID *Source, UINT32 Size, UINT32 *PhysicalAddress);
BOOLEAN CopyFromFwsmiBuffer(UINT32 PhysicalAddress, UINT32 Size, VOID *Destination);
BOOLEAN EnlargeFwsmiBuffer(UINT32 BufferAddress, UINT32 BufferSize, UINT32 NewSize);

// One call with the register contract of Function's catalogue row. Returns EAX
// as the row reads it back (AL = status); EcxOut receives ECX for the rows that
// return values there (10h: CH and CL version; 11h: extended switches).
UINT32 FwsmiCall(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut);
// FwsmiCall under the retry policy. StopStatus, when not 0, ends the loop at
// once like success (15h uses it for "skip this block"). Refused without any
// port access before InitialSmi has succeeded.
UINT32 FwsmiCallWithRetry(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut, UINT8 StopStatus);
// Number of attempts the retry policy makes (never fewer than one).
UINT32 FwsmiAttemptCount(VOID);
// For wrappers with a retry loop of their own: whether calls may be issued,
// and the wait after a failed attempt ([Others] SMIErrorRetryDelay ms).
BOOLEAN IsFwsmiReady(VOID);
VOID FwsmiRetryDelay(VOID);

VOID ReportFwsmiError(UINT8 Function, UINT8 Status);

#endif  // VYR_FWSMI_TRANSPORT_H_
