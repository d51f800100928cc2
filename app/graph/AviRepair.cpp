// Reads the chunks of a cut-off AVI recording and writes back the sizes,
// counts and indexes the multiplexer would have written at its end.
#include "graph/AviRepair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quell {

namespace {

constexpr std::uint32_t Fourcc(const char (&text)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

constexpr std::uint32_t kRiff = Fourcc("RIFF");
constexpr std::uint32_t kList = Fourcc("LIST");
constexpr std::uint32_t kAvi = Fourcc("AVI ");
constexpr std::uint32_t kAvix = Fourcc("AVIX");
constexpr std::uint32_t kHdrl = Fourcc("hdrl");
constexpr std::uint32_t kMovi = Fourcc("movi");
constexpr std::uint32_t kAvih = Fourcc("avih");
constexpr std::uint32_t kStrl = Fourcc("strl");
constexpr std::uint32_t kStrh = Fourcc("strh");
constexpr std::uint32_t kJunk = Fourcc("JUNK");
constexpr std::uint32_t kIndx = Fourcc("indx");
constexpr std::uint32_t kOdml = Fourcc("odml");
constexpr std::uint32_t kDmlh = Fourcc("dmlh");
constexpr std::uint32_t kIdx1 = Fourcc("idx1");
constexpr std::uint32_t kVids = Fourcc("vids");

constexpr std::uint32_t kAvifHasIndex = 0x10;   // avih flag: the file has idx1
constexpr std::uint32_t kAviifKeyframe = 0x10;  // idx1 flag: the chunk decodes on its own
constexpr std::uint8_t kIndexOfIndexes = 0;
constexpr std::uint8_t kIndexOfChunks = 1;
constexpr std::uint64_t kSuperIndexHeader = 24;
constexpr std::uint64_t kSuperIndexEntry = 16;
constexpr std::uint64_t kChunkIndexHeader = 24;
constexpr std::uint64_t kChunkIndexEntry = 8;

// Little-endian fields into a byte buffer.
struct CBytes {
    std::vector<unsigned char> data;

    void U16(std::uint32_t value)
    {
        for (int i = 0; i < 2; ++i)
            data.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    void U32(std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    void U64(std::uint64_t value)
    {
        for (int i = 0; i < 8; ++i)
            data.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    void U8(std::uint8_t value) { data.push_back(value); }
};

std::uint32_t ReadU32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

class CFile {
public:
    explicit CFile(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
    ~CFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool Open() const { return m_fd >= 0; }

    std::uint64_t Size() const
    {
        struct stat info {};
        return ::fstat(m_fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }

    bool Read(std::uint64_t position, void* buffer, std::size_t length) const
    {
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (length > 0) {
            const ssize_t got = ::pread(m_fd, bytes, length, static_cast<off_t>(position));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            bytes += got;
            length -= static_cast<std::size_t>(got);
            position += static_cast<std::uint64_t>(got);
        }
        return true;
    }

    // 0 on success, else the errno of the failed write.
    int Write(std::uint64_t position, const void* buffer, std::size_t length) const
    {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        while (length > 0) {
            const ssize_t put = ::pwrite(m_fd, bytes, length, static_cast<off_t>(position));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? errno : ENOSPC;
            bytes += put;
            length -= static_cast<std::size_t>(put);
            position += static_cast<std::uint64_t>(put);
        }
        return 0;
    }

    int WriteU32(std::uint64_t position, std::uint32_t value) const
    {
        CBytes bytes;
        bytes.U32(value);
        return Write(position, bytes.data.data(), bytes.data.size());
    }

    int Truncate(std::uint64_t size) const
    {
        return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }

    int Sync() const { return ::fsync(m_fd) == 0 ? 0 : errno; }

private:
    int m_fd;
};

struct Stream {
    std::uint64_t strh = 0;         // position of the strh data
    std::uint64_t placeholder = 0;  // position of the JUNK/indx chunk kept for the super index; 0: none
    std::uint32_t placeholderSize = 0;
    bool video = false;
    std::uint32_t sampleSize = 0;   // bytes per sample of a fixed-size stream (sound), 0 for frames
};

struct Entry {
    std::uint32_t fourcc = 0;
    std::uint64_t position = 0;     // of the chunk header
    std::uint32_t size = 0;
    unsigned stream = 0;

    std::uint64_t End() const { return position + 8 + size + (size & 1); }
};

struct IndexChunk {
    unsigned stream = 0;
    std::uint64_t position = 0;
    std::uint32_t size = 0;         // of its data
};

// One RIFF of the file: "AVI " first, "AVIX" for each further gigabyte.
struct Part {
    std::uint64_t riff = 0;
    std::uint64_t movi = 0;         // position of the movi LIST header
    std::uint64_t idx1 = 0;         // position of the part's idx1, 0: none
    std::vector<Entry> entries;
    std::vector<IndexChunk> indexes;
};

struct Layout {
    std::uint64_t avih = 0;         // position of the avih data
    std::uint64_t dmlh = 0;         // position of the dmlh data, 0: none
    std::uint64_t movi = 0;
    std::vector<Stream> streams;
};

bool IsDigit(std::uint32_t c)
{
    return c >= '0' && c <= '9';
}

// "NNdb", "NNdc", "NNwb": a data chunk of stream NN; -1 otherwise.
int DataStream(std::uint32_t fourcc)
{
    const std::uint32_t c0 = fourcc & 0xff, c1 = (fourcc >> 8) & 0xff;
    const std::uint32_t kind = fourcc >> 16;
    if (!IsDigit(c0) || !IsDigit(c1))
        return -1;
    if (kind != ('d' | 'b' << 8) && kind != ('d' | 'c' << 8) && kind != ('w' | 'b' << 8))
        return -1;
    return static_cast<int>((c0 - '0') * 10 + (c1 - '0'));
}

// "ixNN": the chunk index of stream NN; -1 otherwise.
int IndexStream(std::uint32_t fourcc)
{
    const std::uint32_t c2 = (fourcc >> 16) & 0xff, c3 = fourcc >> 24;
    if ((fourcc & 0xffff) != ('i' | 'x' << 8) || !IsDigit(c2) || !IsDigit(c3))
        return -1;
    return static_cast<int>((c2 - '0') * 10 + (c3 - '0'));
}

struct ChunkHeader {
    std::uint32_t fourcc = 0;
    std::uint32_t size = 0;
    std::uint32_t type = 0;         // the list type of RIFF and LIST chunks
};

bool ReadHeader(const CFile& file, std::uint64_t position, std::uint64_t fileSize, ChunkHeader& header)
{
    unsigned char bytes[12] = {};
    const std::size_t length = position + 12 <= fileSize ? 12 : 8;
    if (position + length > fileSize || !file.Read(position, bytes, length))
        return false;
    header.fourcc = ReadU32(bytes);
    header.size = ReadU32(bytes + 4);
    header.type = length == 12 ? ReadU32(bytes + 8) : 0;
    return true;
}

void ParseStrl(const CFile& file, std::uint64_t begin, std::uint64_t end, Layout& layout)
{
    Stream stream;
    for (std::uint64_t at = begin; at + 8 <= end;) {
        ChunkHeader chunk;
        if (!ReadHeader(file, at, end, chunk))
            break;
        if (chunk.fourcc == kStrh && chunk.size >= 48) {
            unsigned char strh[48];
            if (file.Read(at + 8, strh, sizeof strh)) {
                stream.strh = at + 8;
                stream.video = ReadU32(strh) == kVids;
                stream.sampleSize = ReadU32(strh + 44);
            }
        } else if ((chunk.fourcc == kJunk || chunk.fourcc == kIndx) && stream.placeholder == 0) {
            stream.placeholder = at;
            stream.placeholderSize = chunk.size;
        }
        at += 8 + chunk.size + (chunk.size & 1);
    }
    layout.streams.push_back(stream);
}

void ParseHdrl(const CFile& file, std::uint64_t begin, std::uint64_t end, Layout& layout)
{
    for (std::uint64_t at = begin; at + 8 <= end;) {
        ChunkHeader chunk;
        if (!ReadHeader(file, at, end, chunk))
            break;
        const std::uint64_t next = at + 8 + chunk.size + (chunk.size & 1);
        if (chunk.fourcc == kAvih && chunk.size >= 40)
            layout.avih = at + 8;
        else if (chunk.fourcc == kList && chunk.type == kStrl)
            ParseStrl(file, at + 12, std::min(next, end), layout);
        else if (chunk.fourcc == kList && chunk.type == kOdml) {
            ChunkHeader dmlh;
            if (ReadHeader(file, at + 12, end, dmlh) && dmlh.fourcc == kDmlh && dmlh.size >= 4)
                layout.dmlh = at + 20;
        }
        at = next;
    }
}

// The header list and where the frames begin; false when the file has no
// complete header to go by.
bool ParseLayout(const CFile& file, std::uint64_t fileSize, Layout& layout)
{
    ChunkHeader riff;
    if (!ReadHeader(file, 0, fileSize, riff) || riff.fourcc != kRiff || riff.type != kAvi)
        return false;
    for (std::uint64_t at = 12; at + 12 <= fileSize;) {
        ChunkHeader chunk;
        if (!ReadHeader(file, at, fileSize, chunk))
            return false;
        if (chunk.fourcc == kList && chunk.type == kMovi) {
            layout.movi = at;
            break;
        }
        const std::uint64_t next = at + 8 + chunk.size + (chunk.size & 1);
        if (next > fileSize)
            return false;
        if (chunk.fourcc == kList && chunk.type == kHdrl)
            ParseHdrl(file, at + 12, next, layout);
        at = next;
    }
    const bool streamsKnown = std::all_of(layout.streams.begin(), layout.streams.end(),
                                          [](const Stream& s) { return s.strh != 0; });
    return layout.movi != 0 && layout.avih != 0 && !layout.streams.empty() && streamsKnown;
}

// Every complete chunk from the first frame on, going by the chunks
// themselves: the sizes in the RIFF and movi headers of a cut-off file
// still hold the values of an empty one.
std::vector<Part> WalkChunks(const CFile& file, std::uint64_t fileSize, const Layout& layout)
{
    std::vector<Part> parts(1);
    parts[0].movi = layout.movi;
    for (std::uint64_t at = layout.movi + 12; at + 8 <= fileSize;) {
        ChunkHeader chunk;
        if (!ReadHeader(file, at, fileSize, chunk))
            break;
        if (chunk.fourcc == kRiff) {
            ChunkHeader movi;
            if (chunk.type != kAvix || !ReadHeader(file, at + 12, fileSize, movi) || movi.fourcc != kList ||
                movi.type != kMovi)
                break;
            Part part;
            part.riff = at;
            part.movi = at + 12;
            parts.push_back(part);
            at += 24;
            continue;
        }
        const std::uint64_t end = at + 8 + chunk.size + (chunk.size & 1);
        if (end > fileSize)
            break;
        const int data = DataStream(chunk.fourcc);
        const int index = IndexStream(chunk.fourcc);
        if (data >= 0 && static_cast<std::size_t>(data) < layout.streams.size())
            parts.back().entries.push_back(Entry{chunk.fourcc, at, chunk.size, static_cast<unsigned>(data)});
        else if (index >= 0 && static_cast<std::size_t>(index) < layout.streams.size())
            parts.back().indexes.push_back(IndexChunk{static_cast<unsigned>(index), at, chunk.size});
        else if (chunk.fourcc == kIdx1)
            parts.back().idx1 = at;
        else if (chunk.fourcc != kJunk && chunk.fourcc != kList)
            break;
        at = end;
    }
    return parts;
}

// Duration of `stream` within `entries` in its own units: frames, or
// samples of a fixed-size stream.
std::uint64_t Duration(const std::vector<Entry>& entries, unsigned stream, const Stream& info)
{
    std::uint64_t chunks = 0, bytes = 0;
    for (const Entry& entry : entries) {
        if (entry.stream == stream) {
            ++chunks;
            bytes += entry.size;
        }
    }
    return info.sampleSize > 0 ? bytes / info.sampleSize : chunks;
}

CBytes MakeIdx1(const Part& part)
{
    CBytes idx1;
    idx1.U32(kIdx1);
    idx1.U32(static_cast<std::uint32_t>(part.entries.size() * 16));
    // Offsets from the "movi" type field, as the format defines them.
    for (const Entry& entry : part.entries) {
        idx1.U32(entry.fourcc);
        idx1.U32(kAviifKeyframe);
        idx1.U32(static_cast<std::uint32_t>(entry.position - (part.movi + 8)));
        idx1.U32(entry.size);
    }
    return idx1;
}

// The OpenDML chunk indexes of the last part, one per stream with chunks
// in it, written from `at` on; their places go into the part's indexes.
CBytes MakeChunkIndexes(Part& part, std::size_t streams, std::uint64_t at)
{
    CBytes out;
    part.indexes.clear();
    for (unsigned stream = 0; stream < streams; ++stream) {
        std::vector<const Entry*> own;
        for (const Entry& entry : part.entries)
            if (entry.stream == stream)
                own.push_back(&entry);
        if (own.empty())
            continue;
        const auto size = static_cast<std::uint32_t>(kChunkIndexHeader + kChunkIndexEntry * own.size());
        part.indexes.push_back(IndexChunk{stream, at + out.data.size(), size});
        out.U32(Fourcc("ix00") + ((stream / 10) << 16) + ((stream % 10) << 24));
        out.U32(size);
        out.U16(2);  // longs per entry
        out.U8(0);
        out.U8(kIndexOfChunks);
        out.U32(static_cast<std::uint32_t>(own.size()));
        out.U32(own.front()->fourcc);
        out.U64(part.riff);
        out.U32(0);
        // Offsets from the part's start to each chunk's data; every chunk
        // of uncompressed video and of PCM sound is a key frame.
        for (const Entry* entry : own) {
            out.U32(static_cast<std::uint32_t>(entry->position + 8 - part.riff));
            out.U32(entry->size & 0x7fffffffu);
        }
    }
    return out;
}

// Gives up chunks from the end of `part` until together they free at
// least `bytes`; false when none are left.
bool DropChunks(Part& part, std::uint64_t bytes, std::uint64_t& dropped)
{
    std::uint64_t freed = 0;
    while (!part.entries.empty() && freed < bytes) {
        freed += part.entries.back().End() - part.entries.back().position;
        part.entries.pop_back();
        ++dropped;
    }
    return !part.entries.empty() || freed >= bytes;
}

std::string Describe(const char* step, int error)
{
    return std::string(step) + ": " + std::strerror(error);
}

}  // namespace

AviRepairReport RepairAviFile(const std::string& path)
{
    AviRepairReport report;
    CFile file(path);
    if (!file.Open()) {
        report.error = Describe("open", errno);
        return report;
    }
    const std::uint64_t fileSize = file.Size();
    Layout layout;
    if (!ParseLayout(file, fileSize, layout)) {
        report.error = "no complete AVI header";
        return report;
    }
    std::vector<Part> parts = WalkChunks(file, fileSize, layout);
    // A further part cut off before its first chunk is given up whole.
    while (parts.size() > 1 && parts.back().entries.empty())
        parts.pop_back();

    const bool openDml = parts.size() > 1;
    Part& last = parts.back();
    std::uint64_t fileEnd = 0;
    for (;;) {
        const std::uint64_t dataEnd = last.entries.empty() ? last.movi + 12 : last.entries.back().End();
        if (const int error = file.Truncate(dataEnd)) {
            report.error = Describe("truncate", error);
            return report;
        }
        const CBytes index = openDml ? MakeChunkIndexes(last, layout.streams.size(), dataEnd) : MakeIdx1(last);
        const int error = file.Write(dataEnd, index.data.data(), index.data.size());
        if (error == 0) {
            fileEnd = dataEnd + index.data.size();
            if (!openDml)
                last.idx1 = dataEnd;
            break;
        }
        file.Truncate(dataEnd);
        if ((error != ENOSPC && error != EDQUOT && error != EFBIG) ||
            !DropChunks(last, index.data.size(), report.droppedChunks)) {
            report.error = Describe("write index", error);
            return report;
        }
    }

    // Sizes of every part, then the counts and the super indexes.
    int error = 0;
    for (std::size_t i = 0; i < parts.size() && error == 0; ++i) {
        const Part& part = parts[i];
        const std::uint64_t partEnd = i + 1 < parts.size() ? parts[i + 1].riff : fileEnd;
        const std::uint64_t moviEnd = part.idx1 ? part.idx1 : partEnd;
        if (partEnd - part.riff - 8 > 0xffffffffu) {
            report.error = "part too large";
            return report;
        }
        error = file.WriteU32(part.riff + 4, static_cast<std::uint32_t>(partEnd - part.riff - 8));
        if (error == 0)
            error = file.WriteU32(part.movi + 4, static_cast<std::uint32_t>(moviEnd - part.movi - 8));
    }

    std::uint64_t totalFrames = 0, firstFrames = 0;
    for (unsigned s = 0; s < layout.streams.size() && error == 0; ++s) {
        const Stream& stream = layout.streams[s];
        std::uint64_t length = 0;
        for (const Part& part : parts)
            length += Duration(part.entries, s, stream);
        if (stream.video && totalFrames == 0) {
            totalFrames = length;
            firstFrames = Duration(parts[0].entries, s, stream);
        }
        // strh dwLength, at 32 in its data.
        error = file.WriteU32(stream.strh + 32, static_cast<std::uint32_t>(std::min<std::uint64_t>(length, 0xffffffffu)));
        if (error != 0 || stream.placeholder == 0)
            continue;
        if (!openDml) {
            // A placeholder left as an index by an earlier end goes back to padding.
            error = file.WriteU32(stream.placeholder, kJunk);
            continue;
        }
        CBytes super;
        super.U16(4);  // longs per entry
        super.U8(0);
        super.U8(kIndexOfIndexes);
        std::uint32_t used = 0;
        CBytes entries;
        std::uint32_t chunkId = 0;
        for (const Part& part : parts) {
            for (const IndexChunk& index : part.indexes) {
                if (index.stream != s)
                    continue;
                entries.U64(index.position);
                entries.U32(index.size + 8);
                entries.U32(static_cast<std::uint32_t>(Duration(part.entries, s, stream)));
                ++used;
            }
            for (const Entry& entry : part.entries)
                if (entry.stream == s && chunkId == 0)
                    chunkId = entry.fourcc;
        }
        super.U32(used);
        super.U32(chunkId);
        super.U32(0);
        super.U32(0);
        super.U32(0);
        if (kSuperIndexHeader + kSuperIndexEntry * used > stream.placeholderSize) {
            report.error = "no room for the super index";
            continue;
        }
        super.data.insert(super.data.end(), entries.data.begin(), entries.data.end());
        super.data.resize(stream.placeholderSize, 0);
        error = file.Write(stream.placeholder + 8, super.data.data(), super.data.size());
        if (error == 0)
            error = file.WriteU32(stream.placeholder, kIndx);
    }

    if (error == 0) {
        unsigned char avih[20];
        if (file.Read(layout.avih, avih, sizeof avih)) {
            std::uint32_t flags = ReadU32(avih + 12);
            if (parts[0].idx1)
                flags |= kAvifHasIndex;
            error = file.WriteU32(layout.avih + 12, flags);
        }
        // avih counts the frames of the first part, dmlh those of the whole file.
        if (error == 0)
            error = file.WriteU32(layout.avih + 16, static_cast<std::uint32_t>(std::min<std::uint64_t>(firstFrames, 0xffffffffu)));
        if (error == 0 && layout.dmlh)
            error = file.WriteU32(layout.dmlh, static_cast<std::uint32_t>(std::min<std::uint64_t>(totalFrames, 0xffffffffu)));
    }
    if (error == 0)
        error = file.Sync();
    if (error != 0) {
        report.error = Describe("write header", error);
        return report;
    }
    report.mended = report.error.empty();
    report.videoFrames = totalFrames;
    for (const Part& part : parts)
        report.chunks += part.entries.size();
    return report;
}

}  // namespace quell
