// Firing a scenario's steps in the simulated agent.
#include "stand_ins/agent/scenario_runner.h"

#include <algorithm>

namespace vorn_agent {

namespace {

// How often a step that waits for a count of events looks at the count.
constexpr DWORD kEventPollMs = 20;
constexpr DWORD kRestartRetryMs = 100;

std::string BurstPolicy(int step, unsigned long n) {
    const std::string id = "burst-" + std::to_string(step) + "-" + std::to_string(n);
    return "{\"polid\":\"" + id + "\",\"content\":{\"files\":[{\"burst\":" + std::to_string(step) +
           ",\"n\":" + std::to_string(n) + "}]}}";
}

}  // namespace

void ScenarioRunner::Start(Scenario scenario, AgentServer& server, const AgentOptions& options) {
    Stop();
    scenario_ = std::move(scenario);
    server_ = &server;
    options_ = options;
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    started_ = GetTickCount64();
    down_until_ = refuse_until_ = 0;
    if (!scenario_.steps.empty()) {
        server_->Log().Write("scenario: %u step(s)", static_cast<unsigned>(scenario_.steps.size()));
        thread_ = std::thread([this] { Run(); });
    }
}

void ScenarioRunner::Stop() {
    if (thread_.joinable()) {
        SetEvent(stop_.get());
        thread_.join();
    }
    // Its texts may be large; a stopped agent keeps nothing of its scenario.
    scenario_ = Scenario();
}

void ScenarioRunner::EndStep(const char* what, int step) {
    server_->Log().Write("scenario: step %d: %s", step, what);
    Json::Value line(Json::objectValue);
    line["what"] = "step_end";
    line["step"] = step;
    server_->Journal().Write(std::move(line));
}

void ScenarioRunner::Run() {
    size_t next = 0;
    for (;;) {
        const unsigned long long now = Elapsed();
        if (down_until_ != 0 && now >= down_until_) {
            down_until_ = 0;
            server_->AnnounceServer(true);
            EndStep("the server is up again", down_step_);
        }
        if (refuse_until_ != 0 && now >= refuse_until_) {
            refuse_until_ = 0;
            EndStep("new connections are accepted again", refuse_step_);
        }
        unsigned long long wait = INFINITE;
        while (next < scenario_.steps.size()) {
            const ScenarioStep& step = scenario_.steps[next];
            const bool due = step.after_events ? server_->EventsRecorded() >= step.trigger : Elapsed() >= step.trigger;
            if (!due) {
                wait = step.after_events ? kEventPollMs : step.trigger - Elapsed();
                break;
            }
            Fire(step);
            ++next;
            if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) {
                return;
            }
        }
        for (const unsigned long long until : {down_until_, refuse_until_}) {
            if (until != 0) {
                const unsigned long long elapsed = Elapsed();
                wait = std::min<unsigned long long>(wait, until > elapsed ? until - elapsed : 0);
            }
        }
        if (next >= scenario_.steps.size() && down_until_ == 0 && refuse_until_ == 0) {
            server_->Log().Write("scenario: every step has fired");
            return;
        }
        if (WaitForSingleObject(stop_.get(), static_cast<DWORD>(std::min<unsigned long long>(wait, INFINITE - 1))) ==
            WAIT_OBJECT_0) {
            return;
        }
    }
}

void ScenarioRunner::Fire(const ScenarioStep& step) {
    server_->Log().Write("scenario: step %d of %u (%s %llu): %s", step.number,
                         static_cast<unsigned>(scenario_.steps.size()), step.after_events ? "after events" : "at ms",
                         step.trigger, DescribeStep(step).c_str());
    Json::Value line(Json::objectValue);
    line["what"] = "step";
    line["step"] = step.number;
    line["do"] = StepKindName(step.kind);
    if (step.duration_ms != 0) {
        line["ms"] = Json::UInt(step.duration_ms);
    }
    server_->Journal().Write(std::move(line));
    const std::string source = "step " + std::to_string(step.number);
    switch (step.kind) {
        case StepKind::kServerDown:
            down_until_ = std::max(down_until_, Elapsed() + step.duration_ms);
            down_step_ = step.number;
            server_->AnnounceServer(false);
            break;
        case StepKind::kDropConnections:
            server_->Log().Write("scenario: step %d: dropping %d connection(s)", step.number,
                                 server_->DropConnections());
            break;
        case StepKind::kRefuseConnections:
            refuse_until_ = std::max(refuse_until_, Elapsed() + step.duration_ms);
            refuse_step_ = step.number;
            server_->Faults().RefuseConnectionsFor(step.duration_ms);
            break;
        case StepKind::kDelayReplies:
            server_->Faults().DelayReplies(step.duration_ms, step.count);
            break;
        case StepKind::kSettingsReply:
            server_->Faults().AddSettingsReply(step.text, step.number);
            break;
        case StepKind::kDeliverPolicy:
            server_->Log().Write("scenario: step %d: delivered to %d client(s)", step.number,
                                 server_->Deliver(kRunPolicy, step.text, source, PolicyIdOf(step.text)));
            break;
        case StepKind::kPolicyBurst: {
            int clients = 0;
            for (unsigned long n = 1; n <= step.count; ++n) {
                clients = std::max(clients,
                                   server_->Deliver(kRunPolicy, BurstPolicy(step.number, n), source,
                                                    "burst-" + std::to_string(step.number) + "-" + std::to_string(n)));
            }
            server_->Log().Write("scenario: step %d: burst delivered to up to %d client(s)", step.number, clients);
            break;
        }
        case StepKind::kRestart:
            Restart(step);
            break;
    }
}

void ScenarioRunner::Restart(const ScenarioStep& step) {
    server_->Stop();
    if (WaitForSingleObject(stop_.get(), step.duration_ms) == WAIT_OBJECT_0) {
        // The agent is being stopped anyway; it stays down.
        return;
    }
    for (;;) {
        const DWORD started = server_->Start(options_);
        if (started == ERROR_SUCCESS) {
            EndStep("the server serves again", step.number);
            return;
        }
        server_->Log().Write("scenario: step %d: the server does not start again: error %lu; retrying", step.number,
                             started);
        if (WaitForSingleObject(stop_.get(), kRestartRetryMs) == WAIT_OBJECT_0) {
            return;
        }
    }
}

}  // namespace vorn_agent
