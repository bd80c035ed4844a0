#pragma once
// A user action on the images, bracketed: an EditStep object opened around the action tells the
// context's edit listener where the action begins and ends, and every write in between reaches
// the listener with the bytes it replaces. Brackets nest: an action made of smaller ones (a paste
// of many cells, a conversion of a whole image) is one step under the outermost bracket's name.
// Writes outside any bracket (loads, the program's own preparations) belong to no step.
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class EPROM;
struct EpromContext;

class EditListener {
public:
    virtual ~EditListener() = default;
    // A bracket opened / closed (the calls pair up; nested brackets call them too).
    virtual void BeginStep(const std::string& name) = 0;
    virtual void EndStep() = 0;
    // A write is about to replace `oldBytes` of `image` at `address` (inside one copy of the
    // image) with `newBytes` (same length). Called for every write, inside a bracket or not.
    virtual void Changing(EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& oldBytes,
                          const std::vector<std::uint8_t>& newBytes) = 0;
};

class EditStep {
public:
    // `name` is the action as the user knows it ("Paste"). Without a listener it does nothing.
    EditStep(EpromContext& context, const std::string& name);
    ~EditStep();
    EditStep(const EditStep&) = delete;
    EditStep& operator=(const EditStep&) = delete;

private:
    EditListener* listener_;
};

} // namespace kv
