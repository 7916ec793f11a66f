// The common base of the media components (logger, probe, converter,
// player): a component with an optional owner and a name.
#pragma once

#include <string>

class TFFBaseComponent {
public:
    explicit TFFBaseComponent(TFFBaseComponent* owner = nullptr) : Owner(owner) {}
    virtual ~TFFBaseComponent() = default;
    TFFBaseComponent(const TFFBaseComponent&) = delete;
    TFFBaseComponent& operator=(const TFFBaseComponent&) = delete;

    TFFBaseComponent* GetOwner() const { return Owner; }

    std::string Name;

private:
    TFFBaseComponent* Owner;
};
