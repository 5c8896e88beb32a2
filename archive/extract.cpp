// The extraction run and the road of one entry: header, output path, folders, overwrite rule,
// encryption header, decoding (input pieces of INPUT_PIECE bytes, output through the decoder's 2048-byte
// buffer into pieces of WRITE_PIECE_BYTES), time stamp, the check of the entry's end, size and CRC.
//
// Every entry ends where its local header's compressed size says, whether it is extracted, passed over
// (No at the overwrite question) or a folder: the next signature is read there and nowhere else. An
// extracted entry whose data does not end with its stream (or its stream with its data) stops the run as
// damage, so no record can hide inside an entry's data behind a stream that ends early.
#include "extract.h"

#include <windows.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "../decode/cipher.h"
#include "../decode/crc32.h"
#include "../decode/huffman.h"
#include "../decode/inflate.h"
#include "../decode/password.h"
#include "../startup/messages.h"
#include "../startup/payload.h"
#include "../startup/run_log.h"
#include "../startup/sfxhead.h"
#include "output.h"
#include "progress.h"
#include "volumes.h"
#include "walk.h"

int extractionRunning;
int filesExtracted;
int filesSkipped;
uint32_t crcRegister;

// Bytes of the current entry decoded so far; never more than its header declares.
static uint32_t entryOutputBytes;
// From the moment a file entry's output is opened until it is in place: a stop then leaves it unfinished.
static bool entryUnderWay;

enum : uint32_t { INPUT_PIECE = INPUT_PIECE_BYTES };

void crc32Update(const uint8_t* bytes, uint32_t n)
{
    crcRegister = crcRegisterUpdate(crcRegister, bytes, n);
}

// A read error in the middle of an entry: the status line names the entry first.
[[noreturn]] static void entryReadError()
{
    showStatusNow();
    readError(2);
}

uint32_t refillInput()
{
    if (localHeader.compressedSize <= 0)
        return 0;
    // A long entry that decodes to little output still lets the queue be looked at.
    pollWhenDue();
    uint32_t n = (uint32_t)localHeader.compressedSize < INPUT_PIECE ? (uint32_t)localHeader.compressedSize
                                                                    : INPUT_PIECE;
    int count = readArchive(inputBuffer, n);
    if (spannedSet && count >= 0 && (uint32_t)count < n) {
        // The volume has ended: the rest of the piece comes from the next one.
        switchVolume((uint16_t)(currentDisk + 1), exeVolumes);
        if (count == 0)
            count = readArchive(inputBuffer, n);
        if (count < 0)
            entryReadError();
    } else if (count != (int)n) {
        entryReadError();
    }
    localHeader.compressedSize -= count;
    if (entryEncrypted)
        decryptBuffer(inputBuffer, (uint32_t)count);
    return (uint32_t)count;
}

[[noreturn]] static void badCrc(uint32_t crc)
{
    showStatusNow();
    fatalMessage(IDS_BAD_CRC, formatMessageText(__LINE__, loadText(IDS_BAD_CRC), entryPath, (unsigned long)crc,
                                                (unsigned long)localHeader.crc32));
}

void countEntryOutput(uint32_t n)
{
    // Data that decodes to more than the declared size is damage, found before it is written.
    if (n > localHeader.uncompressedSize - entryOutputBytes)
        badCrc(crcRegister ^ 0xFFFFFFFFu);
    entryOutputBytes += n;
}

[[noreturn]] static void decoderOutOfMemory()
{
    fatalMessage(IDS_OUT_OF_MEMORY, loadText(IDS_OUT_OF_MEMORY));
}

static uint32_t readPiece(const uint8_t** piece)
{
    *piece = inputBuffer;
    return refillInput();
}

// Spanned sets: passes over the rest of the entry's data, crossing volumes; the bytes passed over, 0
// when nothing remains.
static uint32_t skipEntryData()
{
    if (localHeader.compressedSize <= 0)
        return 0;
    long unread = localHeader.compressedSize;
    long position = seekArchive(0, SEEK_CUR);
    long end = seekArchive(0, SEEK_END);
    long available = (position < 0 || end < 0) ? -1 : end - position;
    if (available >= unread) {
        seekArchive(position + unread, SEEK_SET);
        available = unread;
    } else {
        if (available < 0)
            entryReadError();
        switchVolume((uint16_t)(currentDisk + 1), exeVolumes);
        if (available == 0) {
            end = seekArchive(0, SEEK_END);
            if (end < 0)
                entryReadError();
            available = end < unread ? end : unread;
            seekArchive(available, SEEK_SET);
        }
    }
    localHeader.compressedSize -= available;
    return (uint32_t)available;
}

static void passOverEntryData()
{
    if (spannedSet) {
        // Each round passes over at least one byte or switches to the next volume (which asks the user).
        while (skipEntryData() != 0) {
        }
    } else if (localHeader.compressedSize > 0 && seekArchive(localHeader.compressedSize, SEEK_CUR) < 0) {
        entryReadError();
    }
}

// A stored entry: the input pieces go into the output buffer as they are.
static void copyStored()
{
    for (;;) {
        uint32_t n = refillInput();
        if (n == 0)
            return;
        const uint8_t* from = inputBuffer;
        while (n > 0) {
            uint32_t room = OUTPUT_BUFFER_SIZE - inflateIo.outputCount;
            uint32_t take = n < room ? n : room;
            memcpy(outputBuffer + inflateIo.outputCount, from, take);
            inflateIo.outputCount += take;
            from += take;
            n -= take;
            if (inflateIo.outputCount == OUTPUT_BUFFER_SIZE)
                flushOutputBuffer();
        }
    }
}

// After decoding: the entry's data must be its stream and nothing else, and decode to its declared size,
// so that the next record is read where the entry's declared data ends and nowhere else. A decoder error,
// a stream that ends before the declared data does (bytes the decoder fetched but the stream did not use
// count too, so do bytes never fetched), and another size than declared are damage, reported as a CRC
// error is; the CRC comes last.
static void checkEntryEnd(int decodeResult, bool inflated)
{
    uint32_t crc = crcRegister ^ 0xFFFFFFFFu;
    if (decodeResult != INFLATE_OK)
        badCrc(crc);
    if (localHeader.compressedSize != 0 || (inflated && inflateUnusedInput() != 0))
        badCrc(crc);
    if (entryOutputBytes != localHeader.uncompressedSize)
        badCrc(crc);
    if (crc != localHeader.crc32)
        badCrc(crc);
}

static void decodeEntryData()
{
    // Both the stored copy and inflate fill outputBuffer and count its bytes in inflateIo.outputCount.
    inflateIo.readInput = readPiece;
    inflateIo.flushOutputBuffer = flushOutputBuffer;
    inflateIo.window = inflateWindow;
    inflateIo.outputBuffer = outputBuffer;
    inflateIo.outputCount = 0;
    huffmanOutOfMemory = decoderOutOfMemory;
    crcRegister = 0xFFFFFFFFu;
    entryOutputBytes = 0;
    int result = INFLATE_OK;
    bool inflated = false;
    if (localHeader.compressedSize != 0) {
        if (localHeader.method == 0) {
            copyStored();
        } else if (localHeader.method == 8) {
            result = inflate();
            inflated = true;
        } else {
            showStatusNow();
            fatalMessage(IDS_UNSUPPORTED_METHOD, loadText(IDS_UNSUPPORTED_METHOD));
        }
    }
    filesExtracted++;
    finishOutput();
    setOutputFileTime();
    closeOutputFile();
    checkEntryEnd(result, inflated);
}

// Opens the output file of a file entry: true; false when the entry is to be passed over (No at the
// overwrite question). Without encryption one call makes a new file, and only a name that is there brings
// the question (or, with overwriteWithoutAsking, the file is replaced). An encrypted entry is asked about
// first, then its password is checked, and only then is anything created.
static bool openEntryOutput()
{
    if (!overwriteWithoutAsking && !entryEncrypted && createNewOutputFile())
        return true;
    bool ask = !overwriteWithoutAsking && (!entryEncrypted || pathExists(entryPath));
    if (ask && !confirmOverwrite())
        return false;
    if (entryEncrypted && !checkEncryptionHeader()) {
        showStatusNow();
        int id = storedPassword ? IDS_WRONG_PASSWORD : IDS_NO_PASSWORD;
        fatalMessage(id, loadText(id));
    }
    createOutputFile();
    return true;
}

void extractEntry()
{
    readLocalHeader();
    uint32_t length = (uint32_t)wcslen(entryPath);
    if (length > 0 && (entryPath[length - 1] == L'/' || entryPath[length - 1] == L'\\')) {
        createFolders();
        logEvent(L"folder", entryPath);
        // Whatever a folder entry holds or declares, its data is no record: it is passed over.
        passOverEntryData();
    } else {
        buildOutputPath();
        showStatus();
        createFolders();
        if (!openEntryOutput()) {
            filesSkipped++;
            logEvent(L"kept", entryPath);
            passOverEntryData();
        } else {
            entryUnderWay = true;
            decodeEntryData();
            putOutputInPlace();
            entryUnderWay = false;
            logEvent(L"written", entryPath);
        }
    }
    if (entryHasDescriptor && seekArchive(16, SEEK_CUR) < 0)
        entryReadError();
    pollWhenDue();
}

// Positions the archive at its first record and walks it.
static void runWalk()
{
    SetCursor(waitCursor);
    beginProgress();
    beginOutputRun();
    long start = (long)parameterBlock.archiveOffset;
    if (spannedSet) {
        switchVolume(1, exeVolumes);
        // With .ZIP volumes the walk starts at byte 0 of volume 1.
        if (exeVolumes && seekArchive(start, SEEK_SET) != start)
            fatalMessage(IDS_IO_ERROR, loadText(IDS_IO_ERROR));
    } else if (seekArchive(start, SEEK_SET) != start) {
        fatalMessage(IDS_IO_ERROR, loadText(IDS_IO_ERROR));
    }
    walkArchive();
    // The last entry is named, and a click during it still asks.
    showStatusNow();
    pollNow();
}

ExtractStatus extractAll()
{
    extractionRunning = 1;
    filesSkipped = 0;
    entryUnderWay = false;
    runOutcome = OUTCOME_SUCCESS;
    volatile ExtractStatus status = EXTRACT_DONE;
    // A stop returns here with its value: 1 from an overwrite question, 2 otherwise (the stop itself
    // has set the outcome).
    switch (setjmp(unwindPoint)) {
    case 0:
        runWalk();
        break;
    case 1:
        runOutcome = OUTCOME_STOPPED;
        status = EXTRACT_CANCELLED;
        break;
    default:
        status = EXTRACT_STOPPED;
        break;
    }
    // A cancel leaves nothing of the entry at hand; after a failure what was written of it stays.
    bool cancelled = status != EXTRACT_DONE && runOutcome == OUTCOME_STOPPED;
    if (status != EXTRACT_DONE) {
        releaseDecoderTables();
        if (entryUnderWay)
            logEvent(cancelled ? L"cancelled" : L"failed", entryPath);
        if (cancelled)
            dropPendingOutput();
        else
            writePendingOutput();
    }
    endOutputRun(cancelled && entryUnderWay);
    SetCursor(arrowCursor);
    extractionRunning = 0;
    wipeKeys();
    return status;
}
