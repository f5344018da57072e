#include "platform/linux/atspi/AtspiBus.h"

#include <algorithm>

namespace larkspire::linux_desktop::atspibus {
namespace {

using PendingPtr = CHandle<DBusPendingCall, dbus_pending_call_unref>;

// Requests in flight at once: well below the bus's limits of pending replies.
constexpr std::size_t kInFlight = 256;

bool isObjectReference(DBusMessageIter* it) {
    return dbus_message_iter_get_arg_type(it) == DBUS_TYPE_STRUCT;
}

std::optional<std::pair<std::string, std::string>> readReference(DBusMessageIter* it) {
    if (!isObjectReference(it)) {
        return std::nullopt;
    }
    DBusMessageIter fields;
    dbus_message_iter_recurse(it, &fields);
    if (dbus_message_iter_get_arg_type(&fields) != DBUS_TYPE_STRING) {
        return std::nullopt;
    }
    const char* name = nullptr;
    dbus_message_iter_get_basic(&fields, &name);
    dbus_message_iter_next(&fields);
    if (dbus_message_iter_get_arg_type(&fields) != DBUS_TYPE_OBJECT_PATH) {
        return std::nullopt;
    }
    const char* path = nullptr;
    dbus_message_iter_get_basic(&fields, &path);
    return std::make_pair(std::string(name ? name : ""), std::string(path ? path : ""));
}

// The first argument of a reply, with the variant opened when there is one.
bool firstArgument(DBusMessage* reply, DBusMessageIter* it, bool variant) {
    if (!reply || !dbus_message_iter_init(reply, it)) {
        return false;
    }
    if (variant) {
        if (dbus_message_iter_get_arg_type(it) != DBUS_TYPE_VARIANT) {
            return false;
        }
        DBusMessageIter inner;
        dbus_message_iter_recurse(it, &inner);
        *it = inner;
    }
    return true;
}

template <class T, int Type>
std::optional<T> basic(DBusMessage* reply, bool variant) {
    DBusMessageIter it;
    if (!firstArgument(reply, &it, variant) || dbus_message_iter_get_arg_type(&it) != Type) {
        return std::nullopt;
    }
    T value{};
    dbus_message_iter_get_basic(&it, &value);
    return value;
}

}  // namespace

ConnectionPtr shared(DBusConnection* connection) {
    if (!connection) {
        return nullptr;
    }
    return ConnectionPtr(dbus_connection_ref(connection), dbus_connection_unref);
}

MessagePtr call(const AtspiAddress& to, const char* interface, const char* method) {
    return MessagePtr(
        dbus_message_new_method_call(to.name.c_str(), to.path.c_str(), interface, method));
}

MessagePtr call(const AtspiAddress& to, const char* interface, const char* method, std::int32_t a) {
    MessagePtr m = call(to, interface, method);
    if (m) {
        dbus_message_append_args(m.get(), DBUS_TYPE_INT32, &a, DBUS_TYPE_INVALID);
    }
    return m;
}

MessagePtr call(const AtspiAddress& to, const char* interface, const char* method, std::int32_t a,
                std::int32_t b) {
    MessagePtr m = call(to, interface, method);
    if (m) {
        dbus_message_append_args(m.get(), DBUS_TYPE_INT32, &a, DBUS_TYPE_INT32, &b,
                                 DBUS_TYPE_INVALID);
    }
    return m;
}

MessagePtr call(const AtspiAddress& to, const char* interface, const char* method, std::int32_t a,
                std::int32_t b, std::int32_t c) {
    MessagePtr m = call(to, interface, method);
    if (m) {
        dbus_message_append_args(m.get(), DBUS_TYPE_INT32, &a, DBUS_TYPE_INT32, &b, DBUS_TYPE_INT32,
                                 &c, DBUS_TYPE_INVALID);
    }
    return m;
}

MessagePtr property(const AtspiAddress& to, const char* interface, const char* property) {
    MessagePtr m = call(to, DBUS_INTERFACE_PROPERTIES, "Get");
    if (m) {
        dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                 DBUS_TYPE_INVALID);
    }
    return m;
}

std::vector<MessagePtr> sendAll(DBusConnection* connection, std::vector<MessagePtr> requests,
                                int timeoutMs) {
    std::vector<MessagePtr> replies(requests.size());
    if (!connection) {
        return replies;
    }
    for (std::size_t start = 0; start < requests.size(); start += kInFlight) {
        const std::size_t end = std::min(requests.size(), start + kInFlight);
        std::vector<PendingPtr> pending(end - start);
        for (std::size_t i = start; i < end; ++i) {
            DBusPendingCall* p = nullptr;
            if (requests[i] &&
                dbus_connection_send_with_reply(connection, requests[i].get(), &p, timeoutMs)) {
                pending[i - start].reset(p);
            }
        }
        dbus_connection_flush(connection);
        for (std::size_t i = start; i < end; ++i) {
            auto& p = pending[i - start];
            if (!p) {
                continue;
            }
            dbus_pending_call_block(p.get());
            MessagePtr reply(dbus_pending_call_steal_reply(p.get()));
            if (reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN) {
                replies[i] = std::move(reply);
            }
        }
    }
    return replies;
}

MessagePtr send(DBusConnection* connection, MessagePtr request, int timeoutMs) {
    std::vector<MessagePtr> one;
    one.push_back(std::move(request));
    return std::move(sendAll(connection, std::move(one), timeoutMs).front());
}

std::optional<std::uint32_t> readUint(DBusMessage* reply) {
    return basic<dbus_uint32_t, DBUS_TYPE_UINT32>(reply, false);
}

std::optional<std::int32_t> readInt(DBusMessage* reply) {
    return basic<dbus_int32_t, DBUS_TYPE_INT32>(reply, false);
}

std::optional<std::string> readString(DBusMessage* reply) {
    auto s = basic<const char*, DBUS_TYPE_STRING>(reply, false);
    return s && *s ? std::optional<std::string>(*s) : std::nullopt;
}

std::vector<std::string> readStrings(DBusMessage* reply) {
    std::vector<std::string> out;
    DBusMessageIter it;
    if (!firstArgument(reply, &it, false) ||
        dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&it) != DBUS_TYPE_STRING) {
        return out;
    }
    DBusMessageIter items;
    dbus_message_iter_recurse(&it, &items);
    while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_STRING) {
        const char* s = nullptr;
        dbus_message_iter_get_basic(&items, &s);
        out.emplace_back(s ? s : "");
        dbus_message_iter_next(&items);
    }
    return out;
}

std::optional<std::string> readVariantString(DBusMessage* reply) {
    auto s = basic<const char*, DBUS_TYPE_STRING>(reply, true);
    return s && *s ? std::optional<std::string>(*s) : std::nullopt;
}

std::optional<std::int32_t> readVariantInt(DBusMessage* reply) {
    return basic<dbus_int32_t, DBUS_TYPE_INT32>(reply, true);
}

std::vector<std::uint32_t> readStates(DBusMessage* reply) {
    std::vector<std::uint32_t> out;
    DBusMessageIter it;
    if (!firstArgument(reply, &it, false) ||
        dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&it) != DBUS_TYPE_UINT32) {
        return out;
    }
    DBusMessageIter words;
    dbus_message_iter_recurse(&it, &words);
    while (dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32) {
        dbus_uint32_t w = 0;
        dbus_message_iter_get_basic(&words, &w);
        out.push_back(w);
        dbus_message_iter_next(&words);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> readReferences(DBusMessage* reply) {
    std::vector<std::pair<std::string, std::string>> out;
    DBusMessageIter it;
    if (!firstArgument(reply, &it, false)) {
        return out;
    }
    if (isObjectReference(&it)) {
        if (auto one = readReference(&it)) {
            out.push_back(std::move(*one));
        }
        return out;
    }
    if (dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) {
        return out;
    }
    DBusMessageIter items;
    dbus_message_iter_recurse(&it, &items);
    while (isObjectReference(&items)) {
        if (auto one = readReference(&items)) {
            out.push_back(std::move(*one));
        }
        dbus_message_iter_next(&items);
    }
    return out;
}

std::optional<std::pair<std::int32_t, std::int32_t>> readRange(DBusMessage* reply) {
    dbus_int32_t start = 0;
    dbus_int32_t end = 0;
    if (!reply || !dbus_message_get_args(reply, nullptr, DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32,
                                         &end, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    return std::make_pair(start, end);
}

}  // namespace larkspire::linux_desktop::atspibus
