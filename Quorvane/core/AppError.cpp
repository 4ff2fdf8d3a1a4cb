#include "AppError.h"

int rawValue(ErrorCodeCategory category) {
    return static_cast<int>(category);
}

std::optional<ErrorCodeCategory> errorCodeCategoryFromRawValue(int raw) {
    switch (raw) {
        case 1:
        case 2:
        case 5:
        case 7:
            return static_cast<ErrorCodeCategory>(raw);
        default:
            return std::nullopt;
    }
}

int rawValue(ErrorCodeSourceFlow flow) {
    return static_cast<int>(flow);
}

std::optional<ErrorCodeSourceFlow> errorCodeSourceFlowFromRawValue(int raw) {
    if (raw < 1 || raw > 5)
        return std::nullopt;
    return static_cast<ErrorCodeSourceFlow>(raw);
}
