#include "loader/Srec.h"

#include <algorithm>
#include <cstring>

#include "proto/Bytes.h"

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr size_t kMinLineText = 4;  // "S", type digit, two count digits
// A file line is kept only this far: enough to see that it is too long for a record.
constexpr size_t kKeptLineChars = kSrecMaxLineText + 3;

int AddressWidth(int type) {
    switch (type) {
        case 0:
        case 1:
        case 9:
            return 2;
        case 2:
        case 8:
            return 3;
        case 3:
        case 7:
            return 4;
        default:
            return 0;
    }
}

std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

uint8_t PairAt(std::string_view text, size_t pos) {
    return static_cast<uint8_t>(hex_digit_value(text[pos]) * 16 + hex_digit_value(text[pos + 1]));
}

SrecBlockReader programBlockReader;

}  // namespace

SrecLineRead SrecTextLines::ReadLine(std::string& line) {
    if (position_ >= text_.size()) {
        return SrecLineRead::kEnd;
    }
    const size_t newline = text_.find('\n', position_);
    const size_t end = newline == std::string_view::npos ? text_.size() : newline + 1;
    line.assign(text_.substr(position_, end - position_));
    position_ = end;
    return SrecLineRead::kLine;
}

SrecLineRead SrecFileLines::ReadLine(std::string& line) {
    line.clear();
    size_t taken = 0;
    int c = 0;
    while ((c = std::getc(stream_)) != EOF) {
        ++taken;
        if (line.size() < kKeptLineChars) {
            line.push_back(static_cast<char>(c));
        }
        if (c == '\n') {
            break;
        }
    }
    if (std::ferror(stream_) != 0) {
        return SrecLineRead::kReadError;
    }
    return taken == 0 ? SrecLineRead::kEnd : SrecLineRead::kLine;
}

SRecord srec_decode_line(std::string_view line) {
    SRecord invalid;
    const std::string_view text = WithoutLineEnd(line);
    if (text.size() < kMinLineText || text.size() > kSrecMaxLineText || text[0] != 'S') {
        return invalid;
    }
    if (!std::all_of(text.begin() + 1, text.end(), [](char c) { return hex_digit_value(c) >= 0; })) {
        return invalid;
    }
    const int count = PairAt(text, 2);
    if (text.size() != 2 * static_cast<size_t>(count) + 4) {
        return invalid;
    }
    const int type = hex_digit_value(text[1]);
    const int width = AddressWidth(type);
    // A count too small for the address and checksum cannot describe a record.
    if (count < width + 1) {
        return invalid;
    }
    uint8_t bytes[128];
    unsigned sum = 0;
    for (int i = 0; i <= count; ++i) {
        bytes[i] = PairAt(text, 2 + 2 * static_cast<size_t>(i));
        sum += bytes[i];
    }
    if ((sum & 0xFFu) != 0xFFu) {
        return invalid;
    }
    SRecord record;
    for (int i = 0; i < width; ++i) {
        record.address = (record.address << 8) | bytes[1 + i];
    }
    record.length = count - width - 1;
    // Data that would run past the last address of the 32-bit space has nowhere to go.
    if (uint64_t{record.address} + static_cast<uint64_t>(record.length) > kAddressSpace) {
        return invalid;
    }
    std::memcpy(record.data, bytes + 1 + width, static_cast<size_t>(record.length));
    record.data[record.length] = 0;
    record.type = type;
    return record;
}

SRecord srec_read_record(SrecLineSource& source, SrecLineRead* why) {
    std::string line;
    const SrecLineRead read = source.ReadLine(line);
    if (why != nullptr) {
        *why = read;
    }
    return read == SrecLineRead::kLine ? srec_decode_line(line) : SRecord{};
}

SRecord srec_read_record(std::FILE* stream) {
    SrecFileLines lines(stream);
    return srec_read_record(lines);
}

void SrecBlockReader::Reset() {
    base_ = 0;
    fill_ = 0;
    record_ = SRecord{};
    record_.length = 0;
    cursor_ = 0;
    ended_ = false;
    endedOnError_ = false;
    dropped_ = 0;
    resetPending_ = false;
}

void SrecBlockReader::Produce(uint32_t* address, uint32_t* length) {
    *address = base_;
    *length = fill_;
    fill_ = 0;
}

// Reads the next record. Returns true when the end of the input produced the last block.
bool SrecBlockReader::TakeRecord(SrecLineSource& source, uint32_t* address, uint32_t* length) {
    SrecLineRead why = SrecLineRead::kEnd;
    record_ = srec_read_record(source, &why);
    cursor_ = 0;
    if (record_.type == -1) {
        record_.length = 0;
        ended_ = true;
        endedOnError_ = why != SrecLineRead::kEnd;
        const bool produced = fill_ > 0;
        if (produced) {
            Produce(address, length);
        }
        fill_ = 0;
        return produced;
    }
    if (record_.type != 3) {
        record_.length = 0;
    } else if (uint64_t{base_} + fill_ > record_.address) {
        if (record_.length > 0) {
            ++dropped_;
        }
        record_.length = 0;
    }
    return false;
}

// Copies the current record into the block. Returns true when the block filled up.
bool SrecBlockReader::CopyRecordBytes(uint8_t* block, uint32_t* address, uint32_t* length) {
    const uint32_t offset = record_.address - base_;
    const uint32_t count = std::min(static_cast<uint32_t>(record_.length), kSrecBlockSize - offset);
    std::memcpy(block + offset, record_.data + cursor_, count);
    fill_ = offset + count;
    record_.address += count;
    cursor_ += static_cast<int32_t>(count);
    record_.length -= static_cast<int32_t>(count);
    if (fill_ < kSrecBlockSize) {
        return false;
    }
    Produce(address, length);
    base_ = record_.address & ~(kSrecBlockSize - 1);
    return true;
}

bool SrecBlockReader::Next(SrecLineSource& source, uint8_t* block, uint32_t* address, uint32_t* length) {
    if (resetPending_) {
        Reset();
    }
    *length = 0;
    *address = base_;
    if (ended_) {
        return false;
    }
    // The previous block has been sent: no byte of it may show through the gaps of this one.
    std::memset(block, 0xFF, kSrecBlockSize);
    bool produced = false;
    while (!ended_ && !produced) {
        if (record_.length <= 0) {
            produced = TakeRecord(source, address, length);
        } else if (uint64_t{record_.address} >= uint64_t{base_} + kSrecBlockSize) {
            Produce(address, length);
            base_ = record_.address & ~(kSrecBlockSize - 1);
            produced = true;
        } else {
            produced = CopyRecordBytes(block, address, length);
        }
    }
    return !ended_;
}

void srec_arm_block_reader() {
    programBlockReader.Arm();
}

bool srec_next_block(std::FILE* stream, uint8_t* block, uint32_t* address, uint32_t* length) {
    SrecFileLines lines(stream);
    return programBlockReader.Next(lines, block, address, length);
}

std::string SrecScan::NotSortedText() const {
    char text[128];
    std::snprintf(text, sizeof text,
                  "Input not sorted !  Record %ld has address 0x%08lX, previous was 0x%08lX\n", records,
                  static_cast<unsigned long>(badAddress), static_cast<unsigned long>(previousLast));
    return text;
}

std::string SrecScan::FaultText(const std::string& name) const {
    switch (status) {
        case SrecScanStatus::kInvalidLine:
            return "Invalid record at line " + std::to_string(records + 1) + ".";  // after the valid ones
        case SrecScanStatus::kReadError:
            return "Error reading file " + name;
        case SrecScanStatus::kNotSorted: {
            std::string text = NotSortedText();
            text.pop_back();  // its line end
            return text;
        }
        case SrecScanStatus::kNoData:
            return "No S3 data records.";
        default:
            return {};
    }
}

uint32_t srec_blocks_spanned(uint32_t lowest, uint32_t highest) {
    if (highest < lowest) {
        return 0;
    }
    const uint64_t firstBlock = lowest / kSrecBlockSize;
    const uint64_t lastBlock = highest / kSrecBlockSize;
    return static_cast<uint32_t>(lastBlock - firstBlock + 1);
}

int32_t SrecScan::BlocksSpanned() const {
    return static_cast<int32_t>(srec_blocks_spanned(lowest, highest));
}

int32_t SrecScan::BlockEstimate() const {
    return (BlocksSpanned() + 100) / 100 * 100;
}

SrecScan srec_scan(SrecLineSource& source, const std::function<void(long)>& onThousand) {
    SrecScan scan;
    uint64_t previousEnd = 0;
    bool anyData = false;
    for (;;) {
        SrecLineRead why = SrecLineRead::kEnd;
        const SRecord record = srec_read_record(source, &why);
        if (why == SrecLineRead::kEnd) {
            break;
        }
        if (why == SrecLineRead::kReadError) {
            scan.status = SrecScanStatus::kReadError;
            break;
        }
        if (record.type == -1) {
            scan.status = SrecScanStatus::kInvalidLine;
            break;
        }
        ++scan.records;
        if (onThousand && scan.records % 1000 == 0) {
            onThousand(scan.records);
        }
        if (record.type != 3 || record.length == 0) {
            continue;
        }
        const uint64_t end = uint64_t{record.address} + static_cast<uint64_t>(record.length);
        if (anyData && record.address < previousEnd) {
            scan.status = SrecScanStatus::kNotSorted;
            scan.badAddress = record.address;
            scan.previousLast = static_cast<uint32_t>(previousEnd - 1);
            break;
        }
        scan.lowest = std::min(scan.lowest, record.address);
        scan.highest = std::max(scan.highest, static_cast<uint32_t>(end - 1));
        previousEnd = end;
        anyData = true;
    }
    if (scan.status == SrecScanStatus::kOk && !anyData) {
        scan.status = SrecScanStatus::kNoData;
    }
    return scan;
}
