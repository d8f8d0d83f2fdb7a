#pragma once
// The libsecret binding behind the agent's keyring store of paired devices: one secret in the
// user's default Secret Service collection, found by its "service" and "account" attributes
// (so `secret-tool lookup service <service> account <account>` finds it too).
//
// It speaks the freedesktop Secret Service API directly over GDBus with the "plain" session
// algorithm (the bus is local to the user). Every call opens its own private connection to the
// session bus named by DBUS_SESSION_BUS_ADDRESS: the process-wide shared connection that
// libsecret would use stays bound to the first bus it met and ends the process when that bus
// goes away. Calls block (a locked keyring may show the desktop's unlock prompt, awaited up to
// two minutes) and are serialised.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velopad {

// A refusal by the Secret Service or the bus: the GLib error code and its message.
class SecretServiceFailure : public std::runtime_error {
  public:
    SecretServiceFailure(std::int32_t status, const std::string& message);
    [[nodiscard]] std::int32_t status() const noexcept { return status_; }

  private:
    std::int32_t status_;
};

class SecretServiceItem {
  public:
    SecretServiceItem(std::string service, std::string account, std::string label);

    // Whether a Secret Service answers on the session bus: DBUS_SESSION_BUS_ADDRESS is set, the
    // bus accepts a connection and the service opens a session with us.
    static bool serviceAnswers();

    // The secret's bytes, or none when there is no such item. Throws SecretServiceFailure.
    std::optional<std::string> read() const;
    // Creates the item in the default collection, or replaces its secret. Throws.
    void write(std::string_view secret) const;
    // Deletes the item; an absent item is not an error. Throws SecretServiceFailure.
    void remove() const;

    const std::string& service() const { return service_; }
    const std::string& account() const { return account_; }

  private:
    std::string service_;
    std::string account_;
    std::string label_;
};

}  // namespace velopad
