#include "folder_packer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#if AKSFX_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "../decode/cipher.h"
#include "../decode/crc32.h"
#include "build_error.h"
#include "host_files.h"
#include "path_guards.h"
#include "unicode_text.h"
#include "windows_names.h"

namespace fs = std::filesystem;

// Entries are marked as made on a Unix host (version 2.0), with Unix modes in the high half of the
// external attributes and the DOS attribute in the low byte: Info-ZIP unzip converts the names of
// entries from DOS or NTFS hosts from the OEM code page even when flag bit 11 says UTF-8.
enum : uint32_t {
    MADE_BY_UNIX_20 = 3 << 8 | 20,
    FILE_ATTRIBUTES = 0100644u << 16 | 0x20,   // rw-r--r--, DOS archive bit
    FOLDER_ATTRIBUTES = 0040755u << 16 | 0x10, // rwxr-xr-x, DOS folder bit
    ENCRYPTION_HEADER_SIZE = 12,
};

#if AKSFX_HAVE_LIBDEFLATE
// libdeflate: one compressor per thread and level, kept for the thread's life (allocating one costs more
// than deflating a small file). An output buffer one byte smaller than the input makes the library
// report 0 exactly when the stream would not be smaller.
struct ThreadCompressor {
    libdeflate_compressor* compressor = nullptr;
    int level = 0;
    ~ThreadCompressor() { libdeflate_free_compressor(compressor); }
};

std::vector<uint8_t> deflateFile(const std::vector<uint8_t>& data, int level)
{
    static thread_local ThreadCompressor cache;
    if (data.size() < 2)
        return {};
    if (!cache.compressor || cache.level != level) {
        libdeflate_free_compressor(cache.compressor);
        cache.compressor = libdeflate_alloc_compressor(level);
        cache.level = level;
        if (!cache.compressor)
            throw BuildError("libdeflate could not start deflate at level " + std::to_string(level));
    }
    std::vector<uint8_t> out(data.size() - 1);
    size_t size = libdeflate_deflate_compress(cache.compressor, data.data(), data.size(), out.data(), out.size());
    return std::vector<uint8_t>(out.begin(), out.begin() + size); // the exact size: entries stay in memory
}

const char* deflateLibrary() { return "libdeflate"; }
#else
// zlib: levels above 9 act as 9.
std::vector<uint8_t> deflateFile(const std::vector<uint8_t>& data, int level)
{
    if (data.empty())
        return {};
    z_stream z = {};
    if (deflateInit2(&z, std::min(level, 9), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw BuildError("zlib could not start deflate");
    std::vector<uint8_t> out(deflateBound(&z, (uLong)data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        throw BuildError("zlib deflate failed");
    if (out.size() >= data.size())
        return {};
    return std::vector<uint8_t>(out.begin(), out.end()); // the exact size: entries stay in memory
}

const char* deflateLibrary() { return "zlib"; }
#endif

// The part of a file entry that does not depend on shared state: names, times, CRC and the (maybe
// deflated) data. Runs on the worker threads.
static ZipEntry packedFileEntry(const std::string& name, const std::vector<uint8_t>& contents, uint32_t dosDateTime,
                                const FolderPackOptions& options)
{
    ZipEntry e;
    e.name = name;
    e.flags = isAscii(name) ? 0 : ZIP_FLAG_UTF8;
    e.time = (uint16_t)dosDateTime;
    e.date = (uint16_t)(dosDateTime >> 16);
    e.versionMadeBy = MADE_BY_UNIX_20;
    e.externalAttributes = FILE_ATTRIBUTES;
    e.crc = (uint32_t)crc32(0L, contents.data(), (uInt)contents.size());
    e.uncompressedSize = (uint32_t)contents.size();
    e.data = (options.store || contents.empty()) ? std::vector<uint8_t>() : deflateFile(contents, options.level);
    if (e.data.empty()) {
        e.method = ZIP_METHOD_STORED;
        e.data = contents;
    } else {
        e.method = ZIP_METHOD_DEFLATED;
    }
    return e;
}

// Encrypts a packed entry in place (uses the global cipher keys and the random source: one thread only).
static void encryptEntry(ZipEntry* e, const FolderPackOptions& options)
{
    e->flags |= ZIP_FLAG_ENCRYPTED;
    uint8_t header[ENCRYPTION_HEADER_SIZE];
    fillRandom(header, ENCRYPTION_HEADER_SIZE - 1);
    header[ENCRYPTION_HEADER_SIZE - 1] = encryptionCheckByte(e->flags, e->crc, e->time);
    initKeys(options.password.c_str());
    encryptBuffer(header, ENCRYPTION_HEADER_SIZE);
    encryptBuffer(e->data.data(), (uint32_t)e->data.size());
    e->data.insert(e->data.begin(), header, header + ENCRYPTION_HEADER_SIZE);
}

ZipEntry makeFileEntry(const std::string& name, const std::vector<uint8_t>& contents, uint32_t dosDateTime,
                       const FolderPackOptions& options)
{
    ZipEntry e = packedFileEntry(name, contents, dosDateTime, options);
    if (options.encrypt)
        encryptEntry(&e, options);
    return e;
}

static void checkName(const std::string& name)
{
    std::string problem = checkEntryName(name, isAscii(name) ? 0 : ZIP_FLAG_UTF8);
    if (!problem.empty())
        throw BuildError(quotedForMessage(name) + ": " + problem);
}

// A file found by the walk, packed later by a worker into archive entry `index`.
struct FileJob {
    size_t index;
    fs::path path;
    std::string name;
    uint32_t dosDateTime;
};

// What the walk carries down: the resolved input folder, and the resolved folders from it down to the one
// being listed (a folder met again among them is a loop).
struct Walk {
    const FolderPackOptions& options;
    fs::path realRoot;
    std::vector<fs::path> realChain;
    ZipArchive* archive;
    std::vector<FileJob>* jobs;
};

// What one item of a folder stands for once links are resolved. For a link, target is its resolved
// path, empty when it points nowhere (then problem says why).
struct Item {
    fs::path path;
    std::string name; // inside the archive, without the '/' of a folder
    bool link = false;
    fs::path target;
    std::string problem;
    fs::file_status status;
};

static Item examine(const fs::path& path, const std::string& name, const fs::path& expectedReal)
{
    Item item;
    item.path = path;
    item.name = name;
    item.link = isLink(path, expectedReal);
    if (item.link)
        item.target = realPath(path, &item.problem);
    std::error_code error;
    item.status = fs::status(path, error); // follows links; an error leaves status_type::none
    if (error && !item.link)
        throw BuildError("cannot read " + pathToUtf8(path) + ": " + error.message());
    return item;
}

// The link rule (folder_packer.h); throws for a link that may not be packed.
static void checkLink(const Item& item, const Walk& walk)
{
    if (item.target.empty())
        throw BuildError(pathToUtf8(item.path) + " is a symbolic link that points nowhere (" + item.problem + ")");
    if (!walk.options.followLinks && !pathLiesWithin(item.target, walk.realRoot, hostIgnoresCase()))
        throw BuildError(pathToUtf8(item.path) + " is a symbolic link to " + pathToUtf8(item.target)
                         + ", outside the folder being packed (--follow-links packs what it points to)");
}

static void addFolder(const fs::path& folder, const std::string& prefix, Walk* walk);

static void addFolderEntry(const Item& item, Walk* walk)
{
    const fs::path real = item.link ? item.target : walk->realChain.back() / item.path.filename();
    for (const fs::path& above : walk->realChain)
        if (above == real)
            throw BuildError(pathToUtf8(item.path) + " leads back to " + pathToUtf8(real)
                             + ", a folder that holds it (a loop of symbolic links)");
    std::string name = item.name + '/';
    checkName(name);
    ZipEntry e;
    e.name = name;
    e.flags = isAscii(name) ? 0 : ZIP_FLAG_UTF8;
    uint32_t dosTime = fileDosDateTime(item.path);
    e.time = (uint16_t)dosTime;
    e.date = (uint16_t)(dosTime >> 16);
    e.versionMadeBy = MADE_BY_UNIX_20;
    e.externalAttributes = FOLDER_ATTRIBUTES;
    walk->archive->entries.push_back(std::move(e));
    walk->realChain.push_back(real);
    addFolder(item.path, name, walk);
    walk->realChain.pop_back();
}

static void addFileEntry(const Item& item, Walk* walk)
{
    checkName(item.name);
    std::error_code error;
    uintmax_t size = fs::file_size(item.path, error);
    if (error)
        throw BuildError("cannot read " + pathToUtf8(item.path) + ": " + error.message());
    if (size >= ZIP_SIZE_LIMIT)
        throw BuildError(pathToUtf8(item.path) + " is 2 GiB or larger");
    walk->jobs->push_back(FileJob{walk->archive->entries.size(), item.path, item.name, fileDosDateTime(item.path)});
    walk->archive->entries.emplace_back();
}

// Adds the items of one folder (prefix: its name inside the archive, empty or ending in '/'): folder
// entries at once, file entries as empty places with a job that fills them.
static void addFolder(const fs::path& folder, const std::string& prefix, Walk* walk)
{
    std::vector<std::pair<std::string, fs::path>> items;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        items.emplace_back(pathToUtf8(it->path().filename()), it->path());
    if (error)
        throw BuildError("cannot list " + pathToUtf8(folder) + ": " + error.message());
    std::sort(items.begin(), items.end());

    for (const auto& entry : items) {
        Item item = examine(entry.second, prefix + entry.first, walk->realChain.back() / entry.second.filename());
        const bool isFolder = fs::is_directory(item.status);
        if (isExcluded(walk->options.excludes, item.name, isFolder, walk->options.excludeStyle))
            continue;
        if (item.link)
            checkLink(item, *walk);
        if (isFolder)
            addFolderEntry(item, walk);
        else if (fs::is_regular_file(item.status))
            addFileEntry(item, walk);
        else
            throw BuildError(pathToUtf8(item.path) + " is neither a file nor a folder");
        if (walk->archive->entries.size() > ZIP_MAX_ENTRIES)
            throw BuildError("more than 65534 items: the archive would need ZIP64");
    }
}

static void packJob(const FileJob& job, const FolderPackOptions& options, ZipArchive* archive)
{
    std::vector<uint8_t> contents = readWholeFile(job.path);
    if (contents.size() >= ZIP_SIZE_LIMIT)
        throw BuildError(pathToUtf8(job.path) + " is 2 GiB or larger");
    archive->entries[job.index] = packedFileEntry(job.name, contents, job.dosDateTime, options);
}

// Reads and deflates the files on up to `workers` threads. Each worker takes the next job; a worker
// holds one file's contents at a time. After a failure no new job starts, and the failure of the
// earliest job is the one reported, so the message does not depend on the timing.
static void packJobs(const std::vector<FileJob>& jobs, const FolderPackOptions& options, ZipArchive* archive)
{
    unsigned workers = options.workers ? options.workers : std::thread::hardware_concurrency();
    workers = (unsigned)std::min<size_t>(std::max(workers, 1u), std::max<size_t>(jobs.size(), 1));
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex failureLock;
    size_t failedJob = jobs.size();
    std::exception_ptr failure;
    auto work = [&]() {
        for (size_t i = next++; i < jobs.size() && !failed; i = next++) {
            try {
                packJob(jobs[i], options, archive);
            } catch (...) {
                std::lock_guard<std::mutex> hold(failureLock);
                if (i < failedJob) {
                    failedJob = i;
                    failure = std::current_exception();
                }
                failed = true;
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; t++) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads to be had: the ones running (and this one) do the work
        }
    }
    work();
    for (std::thread& t : threads)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

ZipArchive packFolder(const fs::path& root, const FolderPackOptions& options)
{
    buildCrcTable();
    ZipArchive archive;
    std::vector<FileJob> jobs;
    std::string reason;
    fs::path realRoot = realPath(root, &reason);
    if (realRoot.empty())
        throw BuildError("cannot read " + pathToUtf8(root) + ": " + reason);
    Walk walk{options, realRoot, {realRoot}, &archive, &jobs};
    addFolder(root, std::string(), &walk);
    // A Linux folder may hold a.txt and A.TXT: one file on Windows. Refused before any file is read.
    std::vector<std::string> names;
    for (const ZipEntry& e : archive.entries)
        names.push_back(e.name);
    for (const FileJob& job : jobs)
        names[job.index] = job.name;
    checkNamesAreDistinctOnWindows(names);
    packJobs(jobs, options, &archive);
    if (options.encrypt)
        for (const FileJob& job : jobs)
            encryptEntry(&archive.entries[job.index], options);
    for (size_t i = 0; i < archive.entries.size(); i++)
        archive.centralOrder.push_back(i);
    return archive;
}
