#pragma once
// The dependency container. A key is a type with a value type, a builder of its live value and, optionally, a
// builder of its preview value (the live builder when it has none):
//
//     struct LoggerClientKey {
//         using Value = std::shared_ptr<LoggerClient>;
//         static Value liveValue() { return std::make_shared<LoggerClient>("ui"); }
//         static Value previewValue() { ... }   // optional
//     };
//
// A key's current value is built on its first read, exactly once even when first reads race, and lives until
// an assignment replaces it for every later reader. In preview mode reads and assignments use the preview
// value. A builder may read other keys; one that ends up reading its own key throws std::logic_error.
#include <atomic>
#include <concepts>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <utility>

template <class K>
concept DependencyKey = requires {
    typename K::Value;
    { K::liveValue() } -> std::convertible_to<typename K::Value>;
};

class DependencyValues {
  public:
    static DependencyValues& shared();

    // The value readers see: the current value, or the preview value in preview mode.
    template <DependencyKey K>
    typename K::Value get() {
        return previewMode() ? previewValue<K>() : currentValue<K>();
    }
    template <DependencyKey K>
    void set(typename K::Value value) {
        if (previewMode())
            setPreviewValue<K>(std::move(value));
        else
            setCurrentValue<K>(std::move(value));
    }

    template <DependencyKey K>
    typename K::Value currentValue() {
        return slot<K>(false).read([] { return K::liveValue(); });
    }
    template <DependencyKey K>
    void setCurrentValue(typename K::Value value) {
        slot<K>(false).assign(std::move(value));
    }
    template <DependencyKey K>
    typename K::Value previewValue() {
        return slot<K>(true).read([] {
            if constexpr (requires { K::previewValue(); })
                return typename K::Value(K::previewValue());
            else
                return typename K::Value(K::liveValue());
        });
    }
    template <DependencyKey K>
    void setPreviewValue(typename K::Value value) {
        slot<K>(true).assign(std::move(value));
    }

    bool previewMode() const { return previewMode_.load(); }
    void setPreviewMode(bool on) { previewMode_.store(on); }

    // Forgets every value and leaves preview mode, so the next read builds anew. For tests; not to be called
    // while other threads read or build.
    void reset();

  private:
    struct SlotBase {
        virtual ~SlotBase() = default;
    };
    // One key's value. The builder runs under buildMutex, so racing first reads build once and the others
    // wait for its result; the value itself is guarded by `mutex`, which is never held while a builder or a
    // destructor runs. A builder that throws stores nothing, and the next read builds again.
    template <class V>
    struct Slot : SlotBase {
        std::mutex buildMutex;
        std::atomic<std::thread::id> builder{};  // the thread running the builder, if any
        std::mutex mutex;
        std::optional<V> value;

        std::optional<V> load() {
            std::lock_guard lock(mutex);
            return value;
        }

        template <class Build>
        V read(Build build) {
            if (auto current = load())
                return std::move(*current);
            // A builder that reads its own key (directly or through other keys) would wait for itself
            // forever.
            if (builder.load() == std::this_thread::get_id())
                throw std::logic_error("A dependency's builder reads its own key");
            std::lock_guard buildLock(buildMutex);
            if (auto current = load())
                return std::move(*current);
            builder.store(std::this_thread::get_id());
            struct ClearBuilder {
                std::atomic<std::thread::id>& builder;
                ~ClearBuilder() { builder.store(std::thread::id()); }
            } clearBuilder{builder};
            std::optional<V> made(build());
            std::lock_guard lock(mutex);
            // An assignment made while the builder ran wins; the built value is then released after the lock.
            if (!value)
                value = std::exchange(made, std::nullopt);
            return *value;
        }

        void assign(V newValue) {
            std::optional<V> old(std::move(newValue));
            {
                std::lock_guard lock(mutex);
                std::swap(old, value);
            }
            // The old value is released here, outside the lock: its destructor may read other keys.
        }
    };

    template <DependencyKey K>
    Slot<typename K::Value>& slot(bool preview) {
        std::lock_guard lock(mutex_);
        // Not named "slots": Qt defines that word as a macro, and this header is included after Qt's.
        auto& table = preview ? preview_ : current_;
        auto& entry = table[std::type_index(typeid(K))];
        if (!entry)
            entry = std::make_unique<Slot<typename K::Value>>();
        return static_cast<Slot<typename K::Value>&>(*entry);
    }

    std::mutex mutex_;
    std::unordered_map<std::type_index, std::unique_ptr<SlotBase>> current_;
    std::unordered_map<std::type_index, std::unique_ptr<SlotBase>> preview_;
    std::atomic<bool> previewMode_{false};
};

// The accessor a service holds: reads the key on use, and assigns it for the whole app.
template <DependencyKey K>
class Dependency {
  public:
    typename K::Value get() const { return DependencyValues::shared().get<K>(); }
    typename K::Value operator*() const { return get(); }
    auto operator->() const { return get(); }
    void set(typename K::Value value) const { DependencyValues::shared().set<K>(std::move(value)); }
};
