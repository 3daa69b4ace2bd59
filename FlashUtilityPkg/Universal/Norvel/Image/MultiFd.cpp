#include "Image/MultiFd.h"

VOID MultiFdResetState(VOID) {}
BOOLEAN SelectMultiFd(VOID) { return FALSE; }
VOID GetMultiFdFileName(CHAR16 *Name, UINTN Chars) {
  if (Chars != 0) Name[0] = 0;
}
