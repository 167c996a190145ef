// How libman talks to its user: messages on standard error (coloured only on
// a terminal and never when NO_COLOR is set), results on standard output as
// text or, with --json, as one JSON object.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace Libman {

// Exit codes of every command.
inline constexpr int ExitOk = 0;
inline constexpr int ExitProblems = 1;  // the command ran and found problems
inline constexpr int ExitUsage = 2;     // bad usage

class Output {
public:
    explicit Output(bool json);

    bool IsJson() const noexcept { return json_; }

    // "libman: error: ..." / "libman: warning: ..." on standard error.
    void Error(const std::string& message);
    void Warning(const std::string& message);
    // Called before a message goes to standard error (a progress bar
    // clears its line there); null for none.
    void SetBeforeMessage(std::function<void()> hook) { beforeMessage_ = std::move(hook); }
    // A line of text output; ignored in JSON mode.
    void Line(const std::string& text);
    // Text printed as it is, also in JSON mode (where it replaces the JSON).
    void Raw(const std::string& text);
    // A text with the emphasis colour when colours are on.
    std::string Bold(const std::string& text) const;

    // The JSON result that Finish prints in JSON mode.
    nlohmann::json& Result() { return result_; }
    // Prints the JSON result (with "status" and the collected "errors" and
    // "warnings") and returns `status`.
    int Finish(int status);

private:
    bool json_;
    bool colourOut_;
    bool colourErr_;
    bool raw_ = false;
    std::function<void()> beforeMessage_;
    nlohmann::json result_ = nlohmann::json::object();
    nlohmann::json errors_ = nlohmann::json::array();
    nlohmann::json warnings_ = nlohmann::json::array();
};

}  // namespace Libman
