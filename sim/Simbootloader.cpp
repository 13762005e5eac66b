#include "sim/Simbootloader.h"

#include <algorithm>
#include <cstddef>

#include "proto/Bytes.h"

namespace {

uint32_t AlignDown(uint32_t address) {
    return address & ~(SimBootloader::kBlockSize - 1);
}

X1fReply Reply(uint8_t code, uint32_t value = 0) {
    return {code, value};
}

X1fReply Verdict(CrcVerdict verdict) {
    return {x1f::kPass, static_cast<uint32_t>(verdict)};
}

}  // namespace

X1fReply SimBootloader::Handle(const X1fCommand& command) {
    switch (command.code) {
        case x1f::kPing:
            return Reply(x1f::kPass);
        case x1f::kSetup:
            return Setup(command.value);
        case x1f::kLoad:
            return Load(command);
        case x1f::kCrcRam:
            return CrcRam();
        case x1f::kCrcAny:
            return CrcAny(command);
        case x1f::kProgram:
            return Reply(ProgramStartCode());
        default:  // erase, start, peek and the other checks are not offered by this target
            return Reply(x1f::kBadCmd);
    }
}

X1fReply SimBootloader::Setup(uint32_t address) {
    setupDone_ = true;
    setupAddress_ = address;
    refusedBlock_ = false;
    blocks_.clear();
    return Reply(x1f::kPass);
}

X1fReply SimBootloader::Load(const X1fCommand& command) {
    ++loads_;
    const uint32_t length = command.dataLength;
    if (length == 0 || length > kBlockSize) {
        refusedBlock_ = true;
        return Reply(x1f::kBadLength);
    }
    const uint32_t start = AlignDown(setupAddress_);
    const uint64_t end = static_cast<uint64_t>(command.value) + length;
    if (!setupDone_ || command.value < start || end > static_cast<uint64_t>(start) + kMaxImageSpan) {
        refusedBlock_ = true;
        return Reply(x1f::kBadAddress);
    }
    blocks_.push_back({command.value, std::vector<uint8_t>(command.data, command.data + length)});
    return Reply(x1f::kPass);
}

X1fReply SimBootloader::CrcRam() const {
    if (!crcSupported_) {
        return Reply(x1f::kBadCmd);
    }
    if (!setupDone_) {
        return Verdict(CrcVerdict::kNoSetup);
    }
    return Verdict(Check(blocks_, setupAddress_, refusedBlock_));
}

X1fReply SimBootloader::CrcAny(const X1fCommand& command) const {
    if (!crcSupported_) {
        return Reply(x1f::kBadCmd);
    }
    if (command.dataLength != 4 || command.data == nullptr) {
        return Reply(x1f::kBadLength);
    }
    if (!programmed_) {
        return Verdict(CrcVerdict::kNotProgrammed);
    }
    const CrcVerdict image = Check(programmedBlocks_, programmedSetup_, false);
    if (image != CrcVerdict::kGood) {
        return Verdict(image);
    }
    // The range asked for runs from the lowest to the highest programmed data byte.
    const uint64_t rangeEnd = static_cast<uint64_t>(command.value) + get_le32(command.data);
    const Block& last = programmedBlocks_.back();
    const uint64_t imageEnd = static_cast<uint64_t>(last.address) + last.bytes.size();
    const bool matches = command.value == programmedSetup_ && rangeEnd == imageEnd;
    return Verdict(matches ? CrcVerdict::kGood : CrcVerdict::kRangeMismatch);
}

// Whole and consistent: the first block holds the announced start, each later block starts
// where the one before ended (or, where gaps are allowed, after it), and no block was refused.
CrcVerdict SimBootloader::Check(const std::vector<Block>& blocks, uint32_t start, bool refused) const {
    if (refused) {
        return CrcVerdict::kRefusedBlock;
    }
    if (blocks.empty()) {
        return CrcVerdict::kNoBlocks;
    }
    if (blocks.front().address != AlignDown(start)) {
        return CrcVerdict::kNotContiguous;
    }
    uint64_t expected = blocks.front().address;
    for (const Block& block : blocks) {
        const bool inPlace = crcAllowsGaps_ ? block.address >= expected : block.address == expected;
        if (!inPlace) {
            return CrcVerdict::kNotContiguous;
        }
        expected = static_cast<uint64_t>(block.address) + block.bytes.size();
    }
    return CrcVerdict::kGood;
}

void SimBootloader::FinishProgram() {
    programmed_ = true;
    programmedSetup_ = setupAddress_;
    programmedBlocks_ = blocks_;
}

SimImage SimBootloader::Merge(const std::vector<Block>& blocks) {
    SimImage image;
    if (blocks.empty()) {
        return image;
    }
    uint32_t low = UINT32_MAX;
    uint64_t high = 0;
    for (const Block& block : blocks) {
        low = std::min(low, block.address);
        high = std::max<uint64_t>(high, static_cast<uint64_t>(block.address) + block.bytes.size());
    }
    // Blocks lie within kMaxImageSpan of the announced start, so the flat copy stays bounded.
    std::vector<uint8_t> flat(high - low);
    std::vector<bool> written(flat.size(), false);
    for (const Block& block : blocks) {
        const size_t offset = block.address - low;
        std::copy(block.bytes.begin(), block.bytes.end(), flat.begin() + static_cast<std::ptrdiff_t>(offset));
        std::fill_n(written.begin() + static_cast<std::ptrdiff_t>(offset), block.bytes.size(), true);
    }
    size_t i = 0;
    while (i < flat.size()) {
        if (!written[i]) {
            ++i;
            continue;
        }
        const size_t runStart = i;
        while (i < flat.size() && written[i]) {
            ++i;
        }
        image.emplace(low + static_cast<uint32_t>(runStart),
                      std::vector<uint8_t>(flat.begin() + static_cast<std::ptrdiff_t>(runStart),
                                           flat.begin() + static_cast<std::ptrdiff_t>(i)));
    }
    return image;
}
