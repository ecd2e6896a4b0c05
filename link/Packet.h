// Frame layout of the servo wire protocol and the record of the last status frame examined.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kFrameBufferSize = 1024;  // every request and reply buffer
constexpr std::size_t MAX_FRAME_SIZE = 259;     // LEN 255 + 4
constexpr uint8_t BROADCAST_ID = 0xFE;

// The checksum a frame should carry: the inverted low byte of the sum of ID, LEN and the LEN bytes after it,
// read from the frame's own LEN at offset 3 (the frame holds at least LEN + 3 bytes).
uint8_t FrameChecksum(const uint8_t* frame);
// True when the byte at LEN + 3 is that checksum.
bool HasGoodChecksum(const uint8_t* frame);

// A status opens with FF FF, ID and LEN; LEN bytes follow (the error byte, the parameters, the checksum).
constexpr int kStatusHeaderBytes = 4;

// What the bytes of a status say of it against the request it answers, the first fault found. Only the bytes
// that came are judged: a frame cut short is CutShort unless what did come is already wrong.
enum class EStatusVerdict : uint8_t {
    Nothing,      // no byte came
    BadHeader,    // the first two bytes are not FF FF
    OtherId,      // from another ID than the one asked
    WrongLength,  // another LEN than the request calls for
    CutShort,     // what came fits, but too few bytes came
    BadChecksum,  // whole, but the checksum does not match
    Good,
};

// The one set of frame rules every reader of a status goes by: `got` bytes of `reply` answering `askedId`
// (any ID when it is BROADCAST_ID) with LEN `expectedLen`. A status from `alsoId` counts as from askedId (a
// write that gives the servo that ID may be answered from it); BROADCAST_ID for none. The bytes after the
// ones that came must be readable (zeros in the readers' buffers).
EStatusVerdict JudgeStatus(const uint8_t* reply, int got, uint8_t askedId, uint8_t expectedLen,
                           uint8_t alsoId = BROADCAST_ID);

// How many bytes to read after a status's header (kStatusHeaderBytes of them at `header`) for a request to
// `askedId` whose status has LEN `expectedLen` (alsoId as for JudgeStatus): expectedLen, or the LEN of a
// status from that ID that is a few bytes longer. That one is taken whole: its last bytes would otherwise
// arrive after the next request's purge and spoil that servo's answer. A LEN far beyond that is two frames
// run together, not a status, and waiting for its bytes would cost a whole timeout.
int StatusBodyLength(const uint8_t* header, uint8_t askedId, uint8_t expectedLen,
                     uint8_t alsoId = BROADCAST_ID);

class CPacket {
public:
    CPacket();
    virtual ~CPacket() = default;

    // Writes FF FF, id, len, instruction at offsets 0..4.
    static void BuildHeader(uint8_t id, uint8_t len, uint8_t instruction, uint8_t* frame);
    // Computes the checksum from the LEN at offset 3 and stores it at LEN + 3; 0 when LEN < 2.
    static int AppendChecksum(uint8_t* frame);

    // Keeps a status of `got` bytes that JudgeStatus gave `verdict` as the record of the last status: the
    // header always; the parameters (m_length of them) and the checksum byte only when the header fits the
    // request, otherwise m_length keeps the LEN that came. 1 for a good status, else 0.
    int TakeStatus(const uint8_t* frame, int got, EStatusVerdict verdict);

    uint8_t m_header[2];
    uint8_t m_id;
    uint8_t m_length;
    uint8_t m_error;
    uint8_t m_checksum;
    uint8_t m_params[kFrameBufferSize];
};
