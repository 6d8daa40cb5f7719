#include "app/PageSession.h"

#include "browser/HostFunctions.h"
#include "browser/Identifiers.h"
#include "browser/PageScript.h"
#include "browser/PluginModule.h"
#include "browser/VariantConversion.h"

#include <json/writer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace veltra::host {

namespace {

Json::Value success(Json::Value value)
{
    Json::Value reply(Json::objectValue);
    reply["ok"] = true;
    reply["value"] = std::move(value);
    return reply;
}

Json::Value failure(const std::string& message)
{
    Json::Value reply(Json::objectValue);
    reply["ok"] = false;
    reply["error"] = message;
    return reply;
}

std::string textField(const Json::Value& message, const char* name)
{
    const Json::Value& field = message[name];
    if (!field.isString())
        throw WireError(std::string("the message lacks the text \"") + name + "\"");
    return field.asString();
}

std::int64_t numberField(const Json::Value& message, const char* name)
{
    const Json::Value& field = message[name];
    if (!field.isIntegral())
        throw WireError(std::string("the message lacks the whole number \"") + name + "\"");
    return field.asInt64();
}

/// Variants the host made for one call into the plug-in, released when the call is over.
class Variants
{
public:
    explicit Variants(NPNetscapeFuncs& npn) : _npn(npn) {}
    ~Variants()
    {
        for (NPVariant& variant : _items)
            _npn.releasevariantvalue(&variant);
    }
    Variants(const Variants&) = delete;
    Variants& operator=(const Variants&) = delete;

    void reserve(std::size_t count) { _items.reserve(count); }
    NPVariant& add()
    {
        NPVariant& variant = _items.emplace_back();
        VOID_TO_NPVARIANT(variant);
        return variant;
    }
    const NPVariant* data() const { return _items.data(); }
    uint32_t size() const { return static_cast<uint32_t>(_items.size()); }

private:
    NPNetscapeFuncs& _npn;
    std::vector<NPVariant> _items;
};

/// A text of the wire as a plug-in variant, allocated as memalloc does so that
/// releasevariantvalue frees it; false when it cannot be had.
bool textVariant(const Json::Value& wire, NPVariant* out)
{
    const char* begin = nullptr;
    const char* end = nullptr;
    wire.getString(&begin, &end);
    const std::size_t size = static_cast<std::size_t>(end - begin);
    if (size > std::numeric_limits<uint32_t>::max())
        return false;
    auto* chars = static_cast<NPUTF8*>(std::malloc(size ? size : 1));
    if (!chars)
        return false;
    if (size)
        std::memcpy(chars, begin, size);
    STRINGN_TO_NPVARIANT(chars, static_cast<uint32_t>(size), *out);
    return true;
}

Json::Value textValue(const NPString& text)
{
    if (!text.UTF8Characters)
        return Json::Value("");
    return Json::Value(text.UTF8Characters, text.UTF8Characters + text.UTF8Length);
}

PageEvent pageEvent(const Json::Value& wire)
{
    static const std::map<std::string, PageEventKind> kinds = {
        {"down", PageEventKind::Down},       {"up", PageEventKind::Up},           {"move", PageEventKind::Move},
        {"wheel", PageEventKind::Wheel},     {"keydown", PageEventKind::KeyDown}, {"keyup", PageEventKind::KeyUp},
    };
    auto kind = kinds.find(textField(wire, "kind"));
    if (kind == kinds.end())
        throw WireError("unknown input kind \"" + wire["kind"].asString() + "\"");
    PageEvent event;
    event.kind = kind->second;
    event.x = wire["x"].asInt();
    event.y = wire["y"].asInt();
    event.button = wire["button"].asInt();
    event.buttons = wire["buttons"].asInt();
    event.deltaY = wire["deltaY"].asDouble();
    event.key = wire["key"].asString();
    event.keyCode = wire["keyCode"].asInt();
    event.shift = wire["shift"].asBool();
    event.ctrl = wire["ctrl"].asBool();
    event.alt = wire["alt"].asBool();
    event.meta = wire["meta"].asBool();
    return event;
}

} // namespace

/// The page as one instance reaches it. Plug-in objects it hands to the page are listed as that
/// instance's, so the page's later calls on them go through the right instance.
class PageSession::InstanceScript : public PageScript
{
public:
    InstanceScript(PageSession& session, std::uint32_t key) : _session(session), _key(key) {}

    PageHandle window() override
    {
        Json::Value call(Json::objectValue);
        call["kind"] = "window";
        PageValue value = decode(ask(call));
        if (value.type() != PageValue::Type::PageObject)
            throw PageScriptError("The page gave no window object");
        return value.asPageObject();
    }

    PageValue evaluate(const std::string& script) override
    {
        Json::Value call(Json::objectValue);
        call["kind"] = "evaluate";
        call["script"] = script;
        return decode(ask(call));
    }

    PageValue invoke(PageHandle object, const std::string& method, const std::vector<PageValue>& args) override
    {
        Json::Value call = onObject("invoke", object);
        call["name"] = method;
        call["args"] = encodeAll(args);
        return decode(ask(call));
    }

    PageValue invokeDefault(PageHandle object, const std::vector<PageValue>& args) override
    {
        Json::Value call = onObject("invokeDefault", object);
        call["args"] = encodeAll(args);
        return decode(ask(call));
    }

    PageValue getProperty(PageHandle object, const std::string& name) override
    {
        Json::Value call = onObject("getProperty", object);
        call["name"] = name;
        return decode(ask(call));
    }

    void setProperty(PageHandle object, const std::string& name, const PageValue& value) override
    {
        Json::Value call = onObject("setProperty", object);
        call["name"] = name;
        call["value"] = encodeValue(value, _session.idsFor(_key));
        ask(call);
    }

    bool hasMethod(PageHandle object, const std::string& name) override
    {
        Json::Value call = onObject("hasMethod", object);
        call["name"] = name;
        return ask(call).asBool();
    }

    bool hasProperty(PageHandle object, const std::string& name) override
    {
        Json::Value call = onObject("hasProperty", object);
        call["name"] = name;
        return ask(call).asBool();
    }

    void release(PageHandle object) noexcept override
    {
        try
        {
            Json::Value message(Json::objectValue);
            message["op"] = "release";
            message["handle"] = Json::Int64(object);
            _session._calls->tell(message);
        }
        catch (...)
        {
            // The page is gone with its objects.
        }
    }

private:
    static Json::Value onObject(const char* kind, PageHandle object)
    {
        Json::Value call(Json::objectValue);
        call["kind"] = kind;
        call["handle"] = Json::Int64(object);
        return call;
    }

    Json::Value ask(const Json::Value& call) { return _session._calls->ask(call); }

    Json::Value encodeAll(const std::vector<PageValue>& values)
    {
        Json::Value wire(Json::arrayValue);
        const PluginObjectIds ids = _session.idsFor(_key);
        for (const PageValue& value : values)
            wire.append(encodeValue(value, ids));
        return wire;
    }

    PageValue decode(const Json::Value& wire)
    {
        try
        {
            return decodeValue(wire, _session.idsFor(_key));
        }
        catch (const WireError& error)
        {
            throw PageScriptError(std::string("The page answered with a malformed value: ") + error.what());
        }
    }

    PageSession& _session;
    const std::uint32_t _key;
};

std::shared_ptr<PageSession> PageSession::open(PageSessionContext& context, std::shared_ptr<Connection> connection)
{
    std::shared_ptr<PageSession> session(new PageSession(context, std::move(connection)));
    std::weak_ptr<PageSession> weak = session;
    std::weak_ptr<Connection> link = session->_connection;
    session->_calls = std::make_shared<PageCalls>(
        context.loop,
        [link](std::string message) {
            if (auto open = link.lock())
                open->send(std::move(message));
        },
        [weak](const Json::Value& call) {
            auto self = weak.lock();
            return self ? self->runPluginCall(call) : failure("The page is gone");
        },
        context.answerLimit);

    Json::Value hello(Json::objectValue);
    hello["op"] = "hello";
    hello["page"] = Json::UInt64(session->id());
    session->_calls->tell(hello);
    return session;
}

PageSession::PageSession(PageSessionContext& context, std::shared_ptr<Connection> connection)
    : _context(context), _connection(std::move(connection)), _objects(context.host)
{}

PageSession::~PageSession() = default;

void PageSession::received(const Json::Value& message)
{
    const std::string op = textField(message, "op");
    if (op == "answer")
        _calls->answered(message);
    else if (op == "create")
        post(&PageSession::create, message);
    else if (op == "destroy")
        post(&PageSession::destroyRequested, message);
    else if (op == "input")
        post(&PageSession::input, message);
    else if (op == "releaseObject")
        post(&PageSession::releaseObject, message);
    else
        throw WireError("unknown message \"" + op + "\"");
}

Json::Value PageSession::bridge(Json::Value body)
{
    return _calls->request(std::move(body));
}

void PageSession::close()
{
    if (_calls->closed())
        return;
    _calls->close();
    auto self = shared_from_this();
    _context.loop.post([self] { self->destroyAll(); });
}

void PageSession::post(void (PageSession::*handler)(const Json::Value&), Json::Value message)
{
    std::weak_ptr<PageSession> weak = weak_from_this();
    _context.loop.post([weak, handler, message = std::move(message)] {
        auto self = weak.lock();
        if (!self || self->_calls->closed())
            return;
        try
        {
            (self.get()->*handler)(message);
        }
        catch (const std::exception& error)
        {
            // Bad input from the page: it hears why, the host goes on.
            std::fprintf(stderr, "veltra-host: page %llu: %s\n", static_cast<unsigned long long>(self->id()),
                         error.what());
            Json::Value notice(Json::objectValue);
            notice["op"] = "error";
            notice["error"] = error.what();
            self->_calls->tell(notice);
        }
    });
}

void PageSession::create(const Json::Value& message)
{
    const std::int64_t element = numberField(message, "element");
    auto refuse = [&](const std::string& why) {
        Json::Value reply(Json::objectValue);
        reply["op"] = "createFailed";
        reply["element"] = Json::Int64(element);
        reply["error"] = why;
        _calls->tell(reply);
    };

    const std::string mime = textField(message, "mime");
    if (mime != _context.mime)
        return refuse("No plug-in handles \"" + mime + "\"");
    if (_elements.size() >= _context.maxInstances)
        return refuse("Too many plug-in elements on one page (at most " + std::to_string(_context.maxInstances) + ")");
    const std::int64_t width = numberField(message, "width");
    const std::int64_t height = numberField(message, "height");
    if (width < 1 || height < 1 || width > HostWindow::maxSize || height > HostWindow::maxSize)
        return refuse("An element must be 1 to " + std::to_string(HostWindow::maxSize) + " pixels wide and high");
    InstanceArgs args;
    for (const Json::Value& pair : message["args"])
    {
        if (!pair.isArray() || pair.size() != 2 || !pair[0].isString() || !pair[1].isString())
            throw WireError("\"args\" must hold [name, value] pairs of text");
        args.emplace_back(pair[0].asString(), pair[1].asString());
    }

    const std::uint32_t key = (*_context.nextInstanceKey)++;
    Element& entry = _elements[key];
    entry.script = std::make_unique<InstanceScript>(*this, key);
    try
    {
        entry.instance = std::make_unique<HostInstance>(_context.module, _context.display, mime, static_cast<int>(width),
                                                        static_cast<int>(height), args, *entry.script);
    }
    catch (const std::exception& error)
    {
        _elements.erase(key);
        return refuse(error.what());
    }
    ++*_context.liveInstances;

    Json::Value reply(Json::objectValue);
    reply["op"] = "created";
    reply["element"] = Json::Int64(element);
    reply["instance"] = key;
    ObjectRef object = entry.instance->plugin().scriptableObject();
    reply["object"] = encodeValue(PageValue::pluginObject(object.get()), idsFor(key));
    reply["members"] = describe(key, object.get());
    // The page learns of the element before the window arrives: the plug-in then starts calling
    // the page ("onload" with the element among the first), and those calls must find it known.
    _calls->tell(reply);

    try
    {
        entry.instance->show();
    }
    catch (const std::exception& error)
    {
        destroyInstance(key);
        Json::Value notice(Json::objectValue);
        notice["op"] = "error";
        notice["error"] = error.what();
        _calls->tell(notice);
    }
}

void PageSession::destroyRequested(const Json::Value& message)
{
    destroyInstance(static_cast<std::uint32_t>(numberField(message, "instance")));
}

void PageSession::destroyInstance(std::uint32_t key)
{
    auto found = _elements.find(key);
    if (found == _elements.end())
        return;
    found->second.instance->destroy();
    _elements.erase(found);
    --*_context.liveInstances;
    Json::Value notice(Json::objectValue);
    notice["op"] = "destroyed";
    notice["instance"] = key;
    _calls->tell(notice);
}

void PageSession::destroyAll()
{
    for (auto& [key, element] : _elements)
    {
        element.instance->destroy();
        --*_context.liveInstances;
    }
    _elements.clear();
    _objects.clear();
    _owners.clear();
}

void PageSession::input(const Json::Value& message)
{
    auto found = _elements.find(static_cast<std::uint32_t>(numberField(message, "instance")));
    if (found != _elements.end())
        found->second.instance->input(pageEvent(message["event"]));
}

void PageSession::releaseObject(const Json::Value& message)
{
    const PluginObjectTable::Id id = numberField(message, "id");
    std::int64_t count = message["count"].isIntegral() ? message["count"].asInt64() : 1;
    while (count-- > 0 && _objects.release(id))
    {
    }
    if (!_objects.find(id))
        _owners.erase(id);
}

bool PageSession::handleDamage(const XEvent& event)
{
    for (auto& [key, element] : _elements)
        if (element.instance->handleDamage(event))
            return true;
    return false;
}

void PageSession::sendPictures()
{
    for (auto& [key, element] : _elements)
    {
        if (_connection->pendingBytes() > _context.maxQueuedPictureBytes)
            return; // what changed stays marked and goes out once the page catches up
        std::optional<std::vector<std::uint8_t>> picture;
        try
        {
            picture = element.instance->pictureIfChanged(_context.pictureFormat, _context.pictureQuality);
        }
        catch (const std::exception& error)
        {
            std::fprintf(stderr, "veltra-host: no picture of instance %u: %s\n", key, error.what());
            continue;
        }
        if (!picture)
            continue;
        std::vector<std::uint8_t> frame(4 + picture->size());
        frame[0] = static_cast<std::uint8_t>(key >> 24);
        frame[1] = static_cast<std::uint8_t>(key >> 16);
        frame[2] = static_cast<std::uint8_t>(key >> 8);
        frame[3] = static_cast<std::uint8_t>(key);
        std::copy(picture->begin(), picture->end(), frame.begin() + 4);
        _connection->sendBinary(std::move(frame));
    }
}

PluginObjectIds PageSession::idsFor(std::uint32_t owner)
{
    PluginObjectIds ids;
    ids.add = [this, owner](NPObject* object) {
        const PluginObjectTable::Id id = _objects.add(object);
        if (id)
            _owners.emplace(id, owner);
        return id;
    };
    ids.find = [this](std::int64_t id) { return _objects.find(id); };
    return ids;
}

Json::Value PageSession::describe(std::uint32_t owner, NPObject* object)
{
    Json::Value members(Json::objectValue);
    members["methods"] = Json::Value(Json::arrayValue);
    members["properties"] = Json::Value(Json::arrayValue);
    auto element = _elements.find(owner);
    if (!object || element == _elements.end())
        return members;
    NPNetscapeFuncs& npn = *_context.host.table();
    NPP npp = element->second.instance->plugin().npp();
    NPIdentifier* names = nullptr;
    uint32_t count = 0;
    if (!npn.enumerate(npp, object, &names, &count))
        return members;
    for (uint32_t i = 0; i < count; ++i)
    {
        const std::string name = identifiers::propertyName(names[i]);
        members[npn.hasmethod(npp, object, names[i]) ? "methods" : "properties"].append(name);
    }
    npn.memfree(names);
    return members;
}

void PageSession::giveBackPageObjects(const Json::Value& values, Json::ArrayIndex from)
{
    for (Json::ArrayIndex i = from; i < values.size(); ++i)
    {
        const Json::Value& value = values[i];
        if (value.isObject() && value["$"] == "page" && value["handle"].isIntegral())
        {
            Json::Value release(Json::objectValue);
            release["op"] = "release";
            release["handle"] = value["handle"];
            _calls->tell(release);
        }
    }
}

Json::Value PageSession::runPluginCall(const Json::Value& call)
{
    const std::string kind = textField(call, "kind");
    const PluginObjectTable::Id id = numberField(call, "object");
    NPObject* object = _objects.find(id);
    auto owner = _owners.find(id);
    if (!object || owner == _owners.end())
        return failure("Unknown plug-in object " + std::to_string(id));
    auto element = _elements.find(owner->second);
    if (element == _elements.end() || !element->second.instance->plugin().alive())
        return failure("The plug-in instance is gone");
    if (kind == "members")
        return success(describe(owner->second, object));

    PluginInstance& instance = element->second.instance->plugin();
    NPP npp = instance.npp();
    NPNetscapeFuncs& npn = *_context.host.table();
    const PluginObjectIds ids = idsFor(owner->second);

    auto toVariants = [&](const Json::Value& values, Variants& out) {
        out.reserve(values.size());
        for (Json::ArrayIndex i = 0; i < values.size(); ++i)
        {
            try
            {
                // Texts go straight from the wire into the plug-in's variant: one copy of a
                // megabyte argument instead of two.
                if (values[i].isString() ? !textVariant(values[i], &out.add())
                                         : !toVariant(_context.host, instance.pageLink(), decodeValue(values[i], ids),
                                                      &out.add()))
                    throw WireError("a page object cannot be handed to the plug-in");
            }
            catch (const WireError&)
            {
                // The page counted a reference for every page object it sent; those not yet handed to
                // the plug-in go back now (the ones before are released with their variants).
                giveBackPageObjects(values, i + 1);
                throw;
            }
        }
    };

    const bool named = kind != "invokeDefault";
    const std::string name = named ? textField(call, "name") : std::string();
    NPIdentifier identifier = named ? npn.getstringidentifier(name.c_str()) : nullptr;
    Variants args(npn);
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    bool done = false;

    HostFunctions::clearException();
    if (kind == "invoke")
    {
        toVariants(call["args"], args);
        done = npn.invoke(npp, object, identifier, args.data(), args.size(), &result);
    }
    else if (kind == "invokeDefault")
    {
        toVariants(call["args"], args);
        done = npn.invokeDefault(npp, object, args.data(), args.size(), &result);
    }
    else if (kind == "getProperty")
        done = npn.getproperty(npp, object, identifier, &result);
    else if (kind == "setProperty")
    {
        Json::Value single(Json::arrayValue);
        single.append(call["value"]);
        toVariants(single, args);
        done = npn.setproperty(npp, object, identifier, args.data());
    }
    else if (kind == "removeProperty")
        done = npn.removeproperty(npp, object, identifier);
    else if (kind == "hasMethod" || kind == "hasProperty")
    {
        const bool has = kind == "hasMethod" ? npn.hasmethod(npp, object, identifier)
                                             : npn.hasproperty(npp, object, identifier);
        return success(Json::Value(has));
    }
    else
        throw WireError("unknown call kind \"" + kind + "\"");

    const std::optional<std::string> exception = HostFunctions::takeException();
    // A text result likewise goes straight to the wire.
    Json::Value value = NPVARIANT_IS_STRING(result) ? textValue(NPVARIANT_TO_STRING(result))
                                                    : encodeValue(toPageValue(result), ids);
    npn.releasevariantvalue(&result);
    if (exception)
        return failure(*exception);
    if (!done)
        return failure(named ? "The plug-in failed the call to \"" + name + "\"" : "The plug-in failed the call");
    return success(std::move(value));
}

} // namespace veltra::host
