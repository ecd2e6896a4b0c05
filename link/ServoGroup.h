// Operations on several servos at once, shared by the Servos window and the client: ID lists, present
// positions, holding every servo where it is, and torque on and off.
//
// Thread rules: any thread. Each function is a few exchanges through CServoUsb, each taking the bus only for
// itself (AllTorqueOff excepted, which holds it while the line visits other rates), so other threads'
// exchanges interleave.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CServoUsb;

// "1,2,3": IDs 0..253, decimal, each once. nullopt with the reason in *error ("ID 254 is outside 0-253",
// "ID 3 is listed twice", "\"x\" is not an ID").
std::optional<std::vector<uint8_t>> ParseIdList(const std::string& text, std::string* error);
// "1, 2, 3" (with the separator given).
std::string IdListText(const std::vector<uint8_t>& ids, const char* separator = ", ");

// The two bytes of a 16-bit register value as they travel: high byte first when the flag says so.
void WordBytes(int value, bool highByteFirst, uint8_t* out);
int WordValue(const uint8_t* bytes, bool highByteFirst);

// The servo's PRESENT_POSITION (one read), or nullopt when it did not answer properly.
std::optional<int> ReadPresentPosition(CServoUsb& usb, uint8_t id);
// The same for each ID, in order.
std::vector<std::optional<int>> ReadPresentPositions(CServoUsb& usb, const std::vector<uint8_t>& ids);

// One sync write of GOAL_POSITION with each servo's own value (positions[k] for ids[k]); bytes written.
int SyncWriteGoals(CServoUsb& usb, const std::vector<uint8_t>& ids, const std::vector<int>& positions);

// Each servo's present position becomes its goal, one read and one plain write per servo, so each stops
// where it is. Servos that did not answer are left out; returns the IDs that took their goal.
std::vector<uint8_t> HoldWhereTheyAre(CServoUsb& usb, const std::vector<uint8_t>& ids);

// One plain write of TORQUE_ENABLE, its status awaited; true when the servo took it.
bool WriteTorque(CServoUsb& usb, uint8_t id, bool on);
// The servo's TORQUE_ENABLE read back, or nullopt when it did not answer.
std::optional<bool> ReadTorque(CServoUsb& usb, uint8_t id);
// Torque on, safely: the goal becomes the present position first (so the servo does not jump to an old
// goal), then TORQUE_ENABLE 1. False when a step failed (the step is named in *error).
bool TorqueOnWhereItIs(CServoUsb& usb, uint8_t id, std::string* error);

// One servo and the rate it answers at.
struct CServoAtRate {
    uint8_t id = 0;
    int baud = 0;
};

// "All torque off": one broadcast write of TORQUE_ENABLE 0 at each rate the list holds (the port's own
// first), then each servo's TORQUE_ENABLE read back at its rate; the port ends at portBaud. Holds the bus
// from the first write to the last read, so no other exchange goes out at a foreign rate. The read-backs come
// in the list's order.
std::vector<std::optional<bool>> AllTorqueOff(CServoUsb& usb, const std::vector<CServoAtRate>& servos,
                                              int portBaud);
// The single broadcast write of TORQUE_ENABLE 0 at the line's present rate; true when the frame went out.
bool BroadcastTorqueOff(CServoUsb& usb);
