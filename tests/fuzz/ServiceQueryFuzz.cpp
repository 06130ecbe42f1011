// The reference service's reading of a request target's query, against a plain reading of
// the rules: pairs cut at "&" and at their first "=", "action" first, each key once, bounded
// key and value lengths.

#include "server/ServiceQuery.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

struct Outcome {
    std::optional<server::ServiceQuery> Query;
    std::string Error;
};

Outcome PlainReading(std::string_view target) {
    const auto question = target.find('?');
    if (question == std::string_view::npos) {
        return {std::nullopt, "Missing action"};
    }
    std::vector<std::string> pairs;
    for (std::string& pair : testing_support::AllFields(target.substr(question + 1), "&")) {
        if (!pair.empty()) {
            pairs.push_back(std::move(pair));
        }
    }
    if (pairs.empty()) {
        return {std::nullopt, "Missing action"};
    }
    server::ServiceQuery query;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        std::string_view rest = pairs[i];
        const std::string key = testing_support::TakeUntil(rest, '=');
        const std::string value(rest);
        if (key.empty() || key.size() > server::kMaxQueryKeyLength) {
            return {std::nullopt, "Malformed request"};
        }
        if (value.size() > server::kMaxQueryValueLength) {
            return {std::nullopt, "Value too long: " + key};
        }
        if (i == 0) {
            if (key != "action") {
                return {std::nullopt, "Missing action"};
            }
            query.Action = value;
            continue;
        }
        bool seen = key == "action";
        for (const auto& [name, unused] : query.Values) {
            seen = seen || name == key;
        }
        if (seen) {
            return {std::nullopt, "Duplicate key: " + key};
        }
        query.Values.emplace_back(key, value);
    }
    return {std::move(query), {}};
}

std::string Rebuilt(const server::ServiceQuery& query) {
    std::string target = "/bin/corvale/cmd.php?action=" + query.Action;
    for (const auto& [key, value] : query.Values) {
        target += "&" + key + "=" + value;
    }
    return target;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string target = testing_support::Text(data, size);
    const server::Result<server::ServiceQuery> parse = server::ParseServiceQuery(target);
    const Outcome expected = PlainReading(target);

    FUZZ_CHECK(parse || !parse.Failure().Message.empty());
    FUZZ_CHECK((parse ? std::string() : parse.Failure().Message) == expected.Error);
    if (!parse) {
        return 0;
    }
    const server::ServiceQuery& query = *parse;
    FUZZ_CHECK(query.Action == expected.Query->Action);
    FUZZ_CHECK(query.Values == expected.Query->Values);
    for (const auto& [key, value] : query.Values) {
        FUZZ_CHECK(query.Find(key) == std::string_view(value));
    }
    FUZZ_CHECK(!query.Find("action"));

    // The same query sent again in the client's own form reads the same.
    const server::Result<server::ServiceQuery> again = server::ParseServiceQuery(Rebuilt(query));
    FUZZ_CHECK(again && again->Action == query.Action && again->Values == query.Values);
    return 0;
}
