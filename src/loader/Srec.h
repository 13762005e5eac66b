#pragma once
// Motorola S-record reader for receiver software images.
//
// Assumptions the reader is built on, each a row of its tests:
//  - a line ends in CR LF, in a bare LF, or (the last line only) in nothing at all;
//  - a line holds "S", the type digit, the byte count and that many byte pairs, nothing else;
//    at most 125 characters before its line end (byte count 60);
//  - hexadecimal digits may be upper or lower case;
//  - the checksum is the ones' complement of the low byte of the sum of count, address and data;
//  - an invalid line ends the input; the caller tells it from a true end of the file;
//  - only S3 records carry image data; every other type is read and skipped;
//  - image blocks are at most 256 bytes on 256-byte address boundaries, and a block's bytes
//    that no record wrote are 0xFF.
//
// The decoding core works on lines held in memory; `std::FILE*` is only one line source.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

struct SRecord {
    int32_t type = -1;      // 0 to 15; -1 when no valid record could be read
    int32_t length = 0;     // data bytes
    uint32_t address = 0;   // most significant byte first in the file
    uint8_t data[80] = {};  // the data bytes followed by one zero byte
};

constexpr size_t kSrecMaxLineText = 125;  // characters before the line end: byte count 60
constexpr uint32_t kSrecBlockSize = 256;

// Why a line source stopped, or that it delivered a line.
enum class SrecLineRead {
    kLine,       // a line (with its line end, if it had one)
    kEnd,        // end of the input: nothing more to read
    kReadError,  // the input could not be read
};

// Hands out one line at a time, line end included. A line longer than any valid record may be
// cut short; it is invalid either way.
class SrecLineSource {
  public:
    virtual ~SrecLineSource() = default;
    virtual SrecLineRead ReadLine(std::string& line) = 0;
};

// Lines of a text held in memory; the text must outlive the source.
class SrecTextLines final : public SrecLineSource {
  public:
    explicit SrecTextLines(std::string_view text) : text_(text) {}
    explicit SrecTextLines(std::string&&) = delete;  // would hold a view of a destroyed string
    SrecLineRead ReadLine(std::string& line) override;

  private:
    std::string_view text_;
    size_t position_ = 0;
};

// Lines of an open file stream (opened "rb" so that every byte of the line end arrives).
class SrecFileLines final : public SrecLineSource {
  public:
    explicit SrecFileLines(std::FILE* stream) : stream_(stream) {}
    SrecLineRead ReadLine(std::string& line) override;

  private:
    std::FILE* stream_;
};

// Decodes one line, with or without its line end. Type -1 for anything that is not a valid
// record; then no other field is filled in.
SRecord srec_decode_line(std::string_view line);

// Reads and decodes the next line. `why` (optional) tells an end or read failure from a line.
SRecord srec_read_record(SrecLineSource& source, SrecLineRead* why = nullptr);
SRecord srec_read_record(std::FILE* stream);

// Gathers the data of S3 records into blocks of at most 256 bytes on 256-byte boundaries.
class SrecBlockReader {
  public:
    // Makes the next call start from a clean state (a new download).
    void Arm() { resetPending_ = true; }

    // Fills `block` (256 bytes, the same buffer on every call, sent before the next call) and
    // reports the block produced by this call through address and length (0: none). Returns
    // true while more input may follow; a call that returns false can still produce the last
    // block.
    bool Next(SrecLineSource& source, uint8_t* block, uint32_t* address, uint32_t* length);

    // After the end: the input ended on an invalid line or a read failure, not at its end.
    bool EndedOnError() const { return endedOnError_; }
    // S3 records dropped because they started below data already placed.
    uint32_t DroppedRecords() const { return dropped_; }

  private:
    void Reset();
    bool TakeRecord(SrecLineSource& source, uint32_t* address, uint32_t* length);
    bool CopyRecordBytes(uint8_t* block, uint32_t* address, uint32_t* length);
    void Produce(uint32_t* address, uint32_t* length);

    bool resetPending_ = true;
    bool ended_ = false;
    bool endedOnError_ = false;
    uint32_t dropped_ = 0;
    uint32_t base_ = 0;
    uint32_t fill_ = 0;
    SRecord record_;
    int32_t cursor_ = 0;
};

// The block reader of the program for callers that use the stream interface.
void srec_arm_block_reader();
bool srec_next_block(std::FILE* stream, uint8_t* block, uint32_t* address, uint32_t* length);

// What a first pass over the whole image found.
enum class SrecScanStatus {
    kOk,           // every line valid, S3 data in rising order, at least one S3 data byte
    kInvalidLine,  // a line that is not a valid record before the end of the input
    kReadError,    // the input could not be read to its end
    kNotSorted,    // an S3 record starts below the end of the S3 data before it
    kNoData,       // no S3 record with data
};

struct SrecScan {
    SrecScanStatus status = SrecScanStatus::kOk;
    uint32_t lowest = 0xFFFFFFFFu;  // lowest S3 data address
    uint32_t highest = 0;           // highest S3 data address (last byte)
    long records = 0;               // lines read, the one that stopped the scan included
    uint32_t badAddress = 0;        // kNotSorted: the record's address
    uint32_t previousLast = 0;      // kNotSorted: last address of the S3 data before it

    bool Ok() const { return status == SrecScanStatus::kOk; }
    // The out-of-order message shown to the user (kNotSorted only).
    std::string NotSortedText() const;
    // What is wrong, in one sentence without a line end; empty for a sound image. `name` is the
    // file's, for a read error.
    std::string FaultText(const std::string& name) const;
    // The 256-byte blocks the image's address range spans (srec_blocks_spanned).
    int32_t BlocksSpanned() const;
    // The number shown counting down while sending: the blocks the range spans, rounded up to
    // the next multiple of 100 above.
    int32_t BlockEstimate() const;
};

// The 256-byte blocks over which the bytes from `lowest` to `highest` (inclusive) lie: from
// the block boundary at or below `lowest` through the block holding `highest`, as the block
// reader cuts them. 0 when highest is below lowest (no data); 2^24 for the whole 32-bit range.
uint32_t srec_blocks_spanned(uint32_t lowest, uint32_t highest);

// Reads every line of the image. `onThousand` (optional) is called with the record number at
// every thousandth record.
SrecScan srec_scan(SrecLineSource& source, const std::function<void(long)>& onThousand = {});
