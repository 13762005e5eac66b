#pragma once
// The receiver's bootloader: takes a download block by block into RAM, checks it, programs it.
// The timing of X1F_PROGRAM (X1F_WORKING, then X1F_PASS) lies with the receiver model; this
// class holds the images and decides every reply.
#include <cstdint>
#include <map>
#include <vector>

#include "proto/Messages.h"

// Bytes by address, as runs of consecutive bytes keyed by their first address.
using SimImage = std::map<uint32_t, std::vector<uint8_t>>;

struct X1fCommand {
    uint8_t code = 0;
    uint16_t dataLength = 0;
    uint32_t value = 0;  // address or value
    const uint8_t* data = nullptr;
};

struct X1fReply {
    uint8_t code = 0;
    uint32_t value = 0;
};

// The value of a CRC reply. 0 is the only good one; the others name what is wrong.
enum class CrcVerdict : uint32_t {
    kGood = 0,
    kNoSetup = 1,        // no X1F_SETUP announced the download
    kNoBlocks = 2,       // nothing was loaded
    kNotContiguous = 3,  // a block is missing, overlaps another or came out of order
    kRefusedBlock = 4,   // a block was answered with an error and is not in the image
    kRangeMismatch = 5,  // X1F_CRCANY's range is not the range that was programmed
    kNotProgrammed = 6,  // X1F_CRCANY before any X1F_PROGRAM finished
};

class SimBootloader {
  public:
    static constexpr uint32_t kBlockSize = x1f::kDataSize;
    // The most a download may span from its announced start; blocks beyond are refused.
    static constexpr uint32_t kMaxImageSpan = 16u * 1024u * 1024u;

    SimBootloader(bool crcSupported, bool crcAllowsGaps)
        : crcSupported_(crcSupported), crcAllowsGaps_(crcAllowsGaps) {}

    // The reply to every command except X1F_PROGRAM's and X1F_SETBAUD's effects, which the
    // receiver model carries out (it still asks here whether they may start).
    X1fReply Handle(const X1fCommand& command);
    // X1F_PASS when an image is loaded and programming may start, X1F_NOPROG otherwise.
    uint8_t ProgramStartCode() const { return blocks_.empty() ? x1f::kNoProg : x1f::kPass; }
    // Programming finished: the loaded image is now the programmed one.
    void FinishProgram();

    bool Programmed() const { return programmed_; }
    uint32_t LoadsReceived() const { return loads_; }
    // The image in RAM (loaded blocks, later blocks over earlier ones).
    SimImage RamImage() const { return Merge(blocks_); }
    SimImage ProgrammedImage() const { return Merge(programmedBlocks_); }

  private:
    struct Block {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    static SimImage Merge(const std::vector<Block>& blocks);

    X1fReply Setup(uint32_t address);
    X1fReply Load(const X1fCommand& command);
    X1fReply CrcRam() const;
    X1fReply CrcAny(const X1fCommand& command) const;
    CrcVerdict Check(const std::vector<Block>& blocks, uint32_t start, bool refused) const;

    bool crcSupported_;
    bool crcAllowsGaps_;
    bool setupDone_ = false;
    uint32_t setupAddress_ = 0;
    bool refusedBlock_ = false;
    uint32_t loads_ = 0;
    std::vector<Block> blocks_;  // in the order they arrived
    bool programmed_ = false;
    uint32_t programmedSetup_ = 0;
    std::vector<Block> programmedBlocks_;
};
