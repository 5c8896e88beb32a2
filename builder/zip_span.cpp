#include "zip_span.h"

#include <string>

#include "build_error.h"

namespace {

// Fills the pieces one after the other.
class PieceWriter {
public:
    explicit PieceWriter(const SpanLimits& limits) : limits_(limits) { pieces_.emplace_back(); }

    uint32_t disk() const { return (uint32_t)pieces_.size() - 1; }
    // Offset of the next byte in its piece, as the archive's records count it.
    uint32_t offset() const { return (disk() == 0 ? limits_.firstBase : 0) + (uint32_t)pieces_.back().size(); }

    // Makes sure that n bytes that must stay together land on one piece.
    void fit(size_t n)
    {
        if (n <= room())
            return;
        if (n > limits_.capacity)
            throw BuildError("a record of " + std::to_string(n) + " bytes does not fit a disk of "
                             + std::to_string(limits_.capacity) + " bytes; choose a larger --span");
        next();
    }

    void whole(const std::vector<uint8_t>& bytes)
    {
        fit(bytes.size());
        append(bytes.data(), bytes.size());
    }

    // Bytes that may run on into the next piece.
    void split(const uint8_t* bytes, size_t n)
    {
        while (n > 0) {
            if (room() == 0)
                next();
            size_t take = n < room() ? n : room();
            append(bytes, take);
            bytes += take;
            n -= take;
        }
    }

    std::vector<std::vector<uint8_t>>& pieces() { return pieces_; }

private:
    size_t room() const
    {
        uint32_t capacity = disk() == 0 ? limits_.firstCapacity : limits_.capacity;
        return capacity > pieces_.back().size() ? capacity - pieces_.back().size() : 0;
    }

    void next()
    {
        if (pieces_.size() >= SPAN_MAX_DISKS)
            throw BuildError("the set would need more than " + std::to_string(SPAN_MAX_DISKS)
                             + " disks; choose a larger --span");
        pieces_.emplace_back();
    }

    void append(const uint8_t* bytes, size_t n) { pieces_.back().insert(pieces_.back().end(), bytes, bytes + n); }

    SpanLimits limits_;
    std::vector<std::vector<uint8_t>> pieces_;
};

struct Place {
    uint32_t disk;
    uint32_t offset;
};

// One entry: its header with the bytes that must stay beside it, the data, the descriptor with the data's
// last byte.
Place writeEntry(PieceWriter& w, const ZipEntry& e)
{
    const size_t size = e.data.size();
    const bool hasDescriptor = (e.flags & ZIP_FLAG_DESCRIPTOR) != 0;
    size_t head = 0;
    if (isFolderEntryName(e.name))
        head = size;
    else if (e.flags & ZIP_FLAG_ENCRYPTED)
        head = size < 12 ? size : 12;
    size_t tail = hasDescriptor && size > head ? 1 : 0;

    std::vector<uint8_t> first = localHeaderRecord(e);
    first.insert(first.end(), e.data.begin(), e.data.begin() + head);
    if (hasDescriptor && tail == 0) {
        std::vector<uint8_t> d = descriptorRecord(e);
        first.insert(first.end(), d.begin(), d.end());
    }
    w.fit(first.size());
    Place place = {w.disk(), w.offset()};
    w.whole(first);
    w.split(e.data.data() + head, size - head - tail);
    if (tail) {
        std::vector<uint8_t> last(e.data.end() - 1, e.data.end());
        std::vector<uint8_t> d = descriptorRecord(e);
        last.insert(last.end(), d.begin(), d.end());
        w.whole(last);
    }
    return place;
}

} // namespace

std::vector<std::vector<uint8_t>> writeSpannedZip(const ZipArchive& archive, const SpanLimits& limits)
{
    PieceWriter w(limits);
    std::vector<uint8_t> signature;
    putLe32(signature, ZIP_SPANNING_SIGNATURE);
    w.whole(signature);

    std::vector<Place> places;
    for (const ZipEntry& e : archive.entries)
        places.push_back(writeEntry(w, e));

    Place centralStart = {0, 0};
    uint32_t centralSize = 0;
    uint32_t onLastDisk = 0;
    for (size_t i = 0; i < archive.centralOrder.size(); i++) {
        const size_t index = archive.centralOrder[i];
        const ZipEntry& e = archive.entries[index];
        std::vector<uint8_t> h = centralHeaderRecord(e, places[index].disk, places[index].offset);
        const uint32_t before = w.disk();
        w.fit(h.size());
        if (i == 0)
            centralStart = {w.disk(), w.offset()};
        onLastDisk = w.disk() == before && i > 0 ? onLastDisk + 1 : 1;
        centralSize += (uint32_t)h.size();
        w.whole(h);
    }
    if (archive.centralOrder.empty())
        centralStart = {w.disk(), w.offset()};

    const size_t endSize = ZIP_END_RECORD_SIZE + archive.comment.size();
    const uint32_t before = w.disk();
    w.fit(endSize);
    if (w.disk() != before)
        onLastDisk = 0;
    std::vector<uint8_t> end;
    putLe32(end, ZIP_END_SIGNATURE);
    putLe16(end, w.disk());
    putLe16(end, centralStart.disk);
    putLe16(end, onLastDisk);
    putLe16(end, (uint32_t)archive.centralOrder.size());
    putLe32(end, centralSize);
    putLe32(end, centralStart.offset);
    putLe16(end, (uint32_t)archive.comment.size());
    putBytes(end, archive.comment);
    w.whole(end);

    std::vector<std::vector<uint8_t>>& pieces = w.pieces();
    if (pieces.size() == 1) {
        pieces[0][2] = 0x30;
        pieces[0][3] = 0x30;
    }
    return pieces;
}
