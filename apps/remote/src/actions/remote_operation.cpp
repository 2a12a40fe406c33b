#include "apps/remote/src/actions/remote_operation.hpp"

#include <array>

#include "apps/remote/src/actions/uuid_field.hpp"
#include "apps/remote/src/json/reader.hpp"
#include "apps/remote/src/json/writer.hpp"

namespace remote {

namespace {

constexpr std::array<std::string_view, 8> kVariants{"ShowConnections", "NewConnectionForm", "EditConnection",
                                                    "Connect",         "Disconnect",        "SendText",
                                                    "TrustSshHostKey", "ForgetSshHostKey"};

constexpr std::array<std::string_view, 1> kIdFields{"connection_id"};
constexpr std::array<std::string_view, 2> kSendTextFields{"connection_id", "text"};
constexpr std::array<std::string_view, 2> kTrustFields{"connection_id", "observed"};
constexpr std::array<std::string_view, 2> kIdentityFields{"algorithm", "fingerprint"};

constexpr json::StructShape kEditShape{"struct variant RemoteOperation::EditConnection",
                                       "struct variant RemoteOperation::EditConnection with 1 element", kIdFields};
constexpr json::StructShape kConnectShape{"struct variant RemoteOperation::Connect",
                                          "struct variant RemoteOperation::Connect with 1 element", kIdFields};
constexpr json::StructShape kDisconnectShape{"struct variant RemoteOperation::Disconnect",
                                             "struct variant RemoteOperation::Disconnect with 1 element", kIdFields};
constexpr json::StructShape kSendTextShape{"struct variant RemoteOperation::SendText",
                                           "struct variant RemoteOperation::SendText with 2 elements", kSendTextFields};
constexpr json::StructShape kTrustShape{"struct variant RemoteOperation::TrustSshHostKey",
                                        "struct variant RemoteOperation::TrustSshHostKey with 2 elements",
                                        kTrustFields};
constexpr json::StructShape kForgetShape{"struct variant RemoteOperation::ForgetSshHostKey",
                                         "struct variant RemoteOperation::ForgetSshHostKey with 1 element", kIdFields};
constexpr json::StructShape kIdentityShape{"struct HostKeyIdentity", "struct HostKeyIdentity with 2 elements",
                                           kIdentityFields};

json::Result<ssh::HostKeyIdentity> read_identity(json::Reader& r) {
  ssh::HostKeyIdentity out;
  auto s = json::read_struct(r, kIdentityShape, [&](std::size_t f) -> json::Status {
    return json::store(json::read_string(r), f == 0 ? out.algorithm : out.fingerprint);
  });
  if (!s) return std::unexpected(s.error());
  return out;
}

// A body holding only the connection id.
template <class T>
json::Result<RemoteOperation> read_id_body(json::Reader& r, json::Variant& v, const json::StructShape& shape) {
  T op;
  auto s = v.struct_body(shape, [&](std::size_t) { return json::store(actions::read_uuid(r), op.connection_id); });
  if (!s) return std::unexpected(s.error());
  return RemoteOperation(op);
}

json::Result<RemoteOperation> read_operation(json::Reader& r) {
  using Op = RemoteOperation;
  return json::read_enum<Op>(r, kVariants, [&](std::size_t index, json::Variant& v) -> json::Result<Op> {
    switch (index) {
      case 0:
      case 1: {
        if (auto s = v.unit(); !s) return std::unexpected(s.error());
        if (index == 0) return Op(Op::ShowConnections{});
        return Op(Op::NewConnectionForm{});
      }
      case 2: return read_id_body<Op::EditConnection>(r, v, kEditShape);
      case 3: return read_id_body<Op::Connect>(r, v, kConnectShape);
      case 4: return read_id_body<Op::Disconnect>(r, v, kDisconnectShape);
      case 5: {
        Op::SendText op;
        auto s = v.struct_body(kSendTextShape, [&](std::size_t f) -> json::Status {
          if (f == 0) return json::store(actions::read_uuid(r), op.connection_id);
          return json::store(json::read_string(r), op.text);
        });
        if (!s) return std::unexpected(s.error());
        return Op(std::move(op));
      }
      case 6: {
        Op::TrustSshHostKey op;
        auto s = v.struct_body(kTrustShape, [&](std::size_t f) -> json::Status {
          if (f == 0) return json::store(actions::read_uuid(r), op.connection_id);
          return json::store(read_identity(r), op.observed);
        });
        if (!s) return std::unexpected(s.error());
        return Op(std::move(op));
      }
      default: return read_id_body<Op::ForgetSshHostKey>(r, v, kForgetShape);
    }
  });
}

}  // namespace

std::string_view RemoteOperation::variant_name() const { return kVariants[value_.index()]; }

OperationKind RemoteOperation::operation_kind() const {
  switch (value_.index()) {
    case 0:
    case 1:
    case 2: return OperationKind::View;
    default: return OperationKind::Effect;
  }
}

std::expected<std::string, std::string> RemoteOperation::serialize() const {
  json::Writer w;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, ShowConnections> || std::is_same_v<T, NewConnectionForm>) {
          w.string(variant_name());
        } else {
          w.begin_object();
          w.key(variant_name());
          w.begin_object();
          w.key("connection_id");
          w.string(v.connection_id.to_string());
          if constexpr (std::is_same_v<T, SendText>) {
            w.key("text");
            w.string(v.text);
          } else if constexpr (std::is_same_v<T, TrustSshHostKey>) {
            w.key("observed");
            w.begin_object();
            w.key("algorithm");
            w.string(v.observed.algorithm);
            w.key("fingerprint");
            w.string(v.observed.fingerprint);
            w.end_object();
          }
          w.end_object();
          w.end_object();
        }
      },
      value_);
  return std::move(w).finish();
}

std::expected<RemoteOperation, std::string> RemoteOperation::deserialize(std::string_view text) {
  return json::read_document<RemoteOperation>(text, read_operation);
}

}  // namespace remote
