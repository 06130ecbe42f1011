#pragma once
// A notification area that records every call and lets the test send the icon's mouse
// messages, with a cursor position and keyboard state of the test's choosing. The component
// owns the shell; the test keeps the log, which outlives it.

#include "shell/components/TrayShell.h"

#include <initializer_list>
#include <memory>
#include <vector>

struct TTrayShellLog {
    struct TCall {
        TNotifyMessage Message;
        TNotifyIconData Data;
    };

    std::vector<TCall> Calls;
    bool Accept = true;
    std::optional<QPoint> Cursor = QPoint(120, 90);
    Qt::KeyboardModifiers Keys = Qt::NoModifier;
    ITrayShell::TMouseMessageSink Sink;

    // Sends mouse messages as the shell would.
    void Send(std::initializer_list<std::uint32_t> messages) {
        for (const std::uint32_t message : messages) {
            if (Sink) {
                Sink(message);
            }
        }
    }

    std::vector<TNotifyMessage> Messages() const {
        std::vector<TNotifyMessage> messages;
        for (const TCall& call : Calls) {
            messages.push_back(call.Message);
        }
        return messages;
    }
    const TCall& Last() const { return Calls.back(); }
};

class TFakeTrayShell final : public ITrayShell {
public:
    explicit TFakeTrayShell(TTrayShellLog& log) : log_(log) {}

    static std::unique_ptr<ITrayShell> For(TTrayShellLog& log) {
        return std::make_unique<TFakeTrayShell>(log);
    }

    bool NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) override {
        log_.Calls.push_back({message, data});
        return log_.Accept;
    }
    std::optional<QPoint> CursorPos() override { return log_.Cursor; }
    Qt::KeyboardModifiers KeyboardState() override { return log_.Keys; }
    void SetMouseMessageSink(TMouseMessageSink sink) override { log_.Sink = std::move(sink); }

private:
    TTrayShellLog& log_;
};
