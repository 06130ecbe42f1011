// The lenient number reading: a number or its conversion error, as a plain reading says.

#include "tests/fuzz/FuzzCheck.h"
#include "util/Lib1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = testing_support::Text(data, size);
    const testing_support::NumberReading expected = testing_support::ReadNumber(text);
    try {
        const std::int32_t value = StrToIntSafe(text);
        FUZZ_CHECK(!expected.IsError);
        FUZZ_CHECK(value == expected.Value);
        FUZZ_CHECK(StrToIntSafe(std::to_string(value)) == value);
    } catch (const EConvertError& e) {
        FUZZ_CHECK(expected.IsError);
        FUZZ_CHECK(e.what() == testing_support::ConversionErrorText(expected.Trimmed));
    }
    return 0;
}
