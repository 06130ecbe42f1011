// Cutting a text into a fixed number of fields, and at its first separator.

#include "tests/fuzz/FuzzCheck.h"
#include "util/Lib1.h"

namespace {

// What SplitToArray must leave in an array of `count` elements that held `before`: the fields
// of the text in order, none for a trailing separator or an empty text, the whole text for an
// empty separator; elements past the last field keep their value.
TArrayOfString Expected(const std::string& text, const std::string& separator,
                        TArrayOfString before) {
    std::vector<std::string> fields;
    if (!text.empty()) {
        fields = separator.empty() ? std::vector<std::string>{text}
                                   : testing_support::AllFields(text, separator);
        if (fields.back().empty()) {
            fields.pop_back();
        }
    }
    for (std::size_t i = 0; i < fields.size() && i < before.size(); ++i) {
        before[i] = fields[i];
    }
    return before;
}

void CheckSplitFirst(const std::string& text, const std::string& separator) {
    std::string head, tail;
    SplitFirst(text, separator, head, tail);
    const auto at = separator.empty() ? std::string::npos : text.find(separator);
    if (at == std::string::npos) {
        FUZZ_CHECK(head == text && tail.empty());
    } else {
        FUZZ_CHECK(head.size() == at && head + separator + tail == text);
    }
    // The same variable may be the text and the tail, as the width-list reader uses it.
    std::string same = text, first;
    SplitFirst(same, separator, first, same);
    FUZZ_CHECK(first == head && same == tail);
}

} // namespace

// The input: one byte for the array length (0 to 15), one for the separator's length (0 to 3),
// the separator, then the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t count = data[0] % 16;
    const std::size_t separatorLength = std::min<std::size_t>(data[1] % 4, size - 2);
    const std::string separator = testing_support::Text(data + 2, separatorLength);
    const std::string text =
        testing_support::Text(data + 2 + separatorLength, size - 2 - separatorLength);

    TArrayOfString values(count);
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = "(kept " + std::to_string(i) + ")";
    }
    const TArrayOfString expected = Expected(text, separator, values);
    SplitToArray(text, separator, values);
    FUZZ_CHECK(values == expected);

    CheckSplitFirst(text, separator);
    return 0;
}
