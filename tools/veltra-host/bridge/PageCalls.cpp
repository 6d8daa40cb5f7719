#include "bridge/PageCalls.h"

#include "bridge/WireValue.h"
#include "browser/PageScript.h"

#include <json/writer.h>

namespace veltra::host {

namespace {

std::string compact(const Json::Value& message)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, message);
}

std::uint64_t idField(const Json::Value& message, const char* name)
{
    const Json::Value& field = message[name];
    if (!field.isIntegral() || field.asInt64() <= 0)
        throw WireError(std::string("the message lacks a positive whole \"") + name + "\"");
    return field.asUInt64();
}

} // namespace

Json::Value finalError(const std::string& message)
{
    Json::Value reply(Json::objectValue);
    reply["done"] = true;
    reply["ok"] = false;
    reply["error"] = message;
    return reply;
}

PageCalls::PageCalls(BrowserLoop& loop, Send send, Run run, std::chrono::milliseconds answerLimit)
    : _loop(loop), _send(std::move(send)), _run(std::move(run)), _answerLimit(answerLimit)
{}

Json::Value PageCalls::ask(const Json::Value& call)
{
    std::uint64_t id = 0;
    ConversationPtr carrier = _running.empty() ? nullptr : _running.back();
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_closed)
            throw PageScriptError("The page is gone");
        id = ++_lastCallId;
        _answers[id];
        Json::Value message(Json::objectValue);
        message["id"] = Json::UInt64(id);
        message["call"] = call;
        if (carrier)
        {
            // The page is blocked in that request: the call rides back on its reply.
            Json::Value reply(Json::objectValue);
            reply["conversation"] = Json::UInt64(carrier->id);
            reply["call"] = message;
            carrier->replies.push_back(std::move(reply));
            _changed.notify_all();
        }
        else
        {
            message["op"] = "call";
            _send(compact(message));
        }
    }

    std::unique_lock<std::mutex> lock(_lock);
    auto deadline = std::chrono::steady_clock::now() + _answerLimit;
    for (;;)
    {
        auto answer = _answers.find(id);
        if (answer->second)
        {
            Json::Value result = std::move(*answer->second);
            _answers.erase(answer);
            if (!result["ok"].asBool())
            {
                const Json::Value& error = result["error"];
                throw PageScriptError(error.isString() ? error.asString() : "The page's script failed");
            }
            return result["value"];
        }
        if (_closed)
        {
            _answers.erase(answer);
            throw PageScriptError("The page closed before answering");
        }
        if (!_waiting.empty())
        {
            // The page asked something of us before it answered: serve it, as a browser would.
            ConversationPtr request = _waiting.front();
            _waiting.pop_front();
            lock.unlock();
            run(request);
            lock.lock();
            deadline = std::chrono::steady_clock::now() + _answerLimit;
            continue;
        }
        if (_changed.wait_until(lock, deadline) == std::cv_status::timeout && !_answers[id] && _waiting.empty() &&
            !_closed)
        {
            _answers.erase(id);
            throw PageScriptError("The page did not answer within " + std::to_string(_answerLimit.count()) + " ms");
        }
    }
}

void PageCalls::tell(const Json::Value& message)
{
    if (!closed())
        _send(compact(message));
}

Json::Value PageCalls::request(Json::Value body)
{
    if (!body.isObject())
        throw WireError("a bridge request must be a JSON object");
    const std::string op = body["op"].isString() ? body["op"].asString() : std::string();
    if (op == "call")
    {
        if (!body["call"].isObject())
            throw WireError("a call request lacks its \"call\" object");
        auto conversation = std::make_shared<Conversation>();
        // Moved, not copied: a call may carry megabytes of text.
        conversation->call = std::move(body["call"]);
        {
            std::lock_guard<std::mutex> guard(_lock);
            if (_closed)
                return finalError("The page is closing");
            conversation->id = ++_lastConversationId;
            _conversations[conversation->id] = conversation;
            _waiting.push_back(conversation);
            _changed.notify_all();
        }
        std::weak_ptr<PageCalls> self = weak_from_this();
        if (!_loop.post([self] {
                if (auto calls = self.lock())
                    calls->runNextRequest();
            }))
        {
            close();
        }
        return awaitReply(conversation);
    }
    if (op == "answer")
    {
        const std::uint64_t id = idField(body, "conversation");
        ConversationPtr conversation;
        {
            std::lock_guard<std::mutex> guard(_lock);
            auto found = _conversations.find(id);
            if (found == _conversations.end())
            {
                if (_closed)
                    return finalError("The page is closing");
                throw WireError("unknown conversation " + std::to_string(id));
            }
            conversation = found->second;
        }
        answered(std::move(body));
        return awaitReply(conversation);
    }
    throw WireError("unknown bridge request \"" + op + "\"");
}

void PageCalls::answered(Json::Value answer)
{
    const std::uint64_t id = idField(answer, "id");
    std::lock_guard<std::mutex> guard(_lock);
    auto waiting = _answers.find(id);
    // Answers to calls that gave up (timed out) are dropped.
    if (waiting != _answers.end() && !waiting->second)
    {
        waiting->second = std::move(answer);
        _changed.notify_all();
    }
}

void PageCalls::close()
{
    std::lock_guard<std::mutex> guard(_lock);
    _closed = true;
    _waiting.clear();
    _changed.notify_all();
}

bool PageCalls::closed() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _closed;
}

Json::Value PageCalls::awaitReply(const ConversationPtr& conversation)
{
    std::unique_lock<std::mutex> lock(_lock);
    _changed.wait(lock, [&] { return !conversation->replies.empty() || _closed; });
    if (conversation->replies.empty())
    {
        _conversations.erase(conversation->id);
        return finalError("The page is closing");
    }
    Json::Value reply = std::move(conversation->replies.front());
    conversation->replies.pop_front();
    if (reply["done"].asBool())
        _conversations.erase(conversation->id);
    return reply;
}

void PageCalls::runNextRequest()
{
    ConversationPtr next;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_waiting.empty())
            return; // a waiting call took it first
        next = _waiting.front();
        _waiting.pop_front();
    }
    run(next);
}

void PageCalls::run(const ConversationPtr& conversation)
{
    _running.push_back(conversation);
    Json::Value result;
    try
    {
        result = _run(conversation->call);
    }
    catch (const std::exception& error)
    {
        result = Json::Value(Json::objectValue);
        result["ok"] = false;
        result["error"] = error.what();
    }
    _running.pop_back();
    result["done"] = true;
    std::lock_guard<std::mutex> guard(_lock);
    conversation->replies.push_back(std::move(result));
    _changed.notify_all();
}

} // namespace veltra::host
