// A small host of the plain library: an adapter over a few order lines and
// named formulas, a syntax check, and one calculation per line.
#include <calquor/Calquex.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

using calquor::_bstr_t;
using calquor::_variant_t;

namespace {

struct Order {
    const char* region;
    double price;
    long qty;
};

// Serves the operands of the current order and the named formulas.
class OrderAdapter : public calquor::DataAdapter {
public:
    const Order* current = nullptr;
    std::map<std::string, std::string> formulas{
        {"Net", "Round({Price}*{Qty}, 2)"},
        {"Tax", "Round(@Net * 0.2, 2)"},
    };

    bool IsKnown(const char* name) override {
        const std::string n = name;
        return n == "Price" || n == "Qty" || n == "Region";
    }
    _variant_t GetOperantValue(const char* name) override {
        const std::string n = name;
        if (n == "Price") return _variant_t(current->price);
        if (n == "Qty") return _variant_t(current->qty);
        return _variant_t(current->region);
    }
    std::string GetFormulaByName(const char* name) override {
        auto it = formulas.find(name);
        return it == formulas.end() ? std::string() : it->second;
    }
};

std::string Show(const _variant_t& value) {
    if (value.vt == calquor::VT_NULL) return "(null)";
    if (value.vt == calquor::VT_EMPTY) return "(empty)";
    _variant_t text;
    if (calquor::FAILED(calquor::VariantChangeType(&text, &value, 0, calquor::VT_BSTR))) return "(?)";
    return static_cast<const char*>(_bstr_t(text.bstrVal, true));
}

}  // namespace

int main(int argc, char** argv) {
    const char* formula = argc > 1 ? argv[1] : "'Net ' + @Net + ', big EU order: ' + (@Net > 100 && {Region} = 'EU')";
    const std::vector<Order> orders{{"EU", 19.99, 7}, {"US", 5.5, 3}, {"EU", 120.0, 2}};

    OrderAdapter adapter;
    calquor::Calquex engine(formula);
    engine.SetDataAdapter(&adapter);

    int pos = 0;
    std::string message;
    if (!engine.Compile(pos, message)) {
        std::printf("%s\n%*s^ %s\n", formula, pos, "", message.c_str());
        return 1;
    }
    for (const Order& order : orders) {
        adapter.current = &order;
        int code = 0;
        const _variant_t value = engine.Calculate(code, message);
        if (code != 0)
            std::printf("error %d: %s\n", code, message.c_str());
        else
            std::printf("%s\n", Show(value).c_str());
    }
    return 0;
}
