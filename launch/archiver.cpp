// Opening this archive in the archiver product.
#include "archiver.h"

#include "../startup/messages.h"

bool runArchiver()
{
    showMessage(loadText(IDS_ARCHIVER_MISSING), MB_OK);
    return false;
}
