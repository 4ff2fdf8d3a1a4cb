#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

#include "platform/qt/Localizable.h"

namespace {

// A translator that answers every "Localizable" key from a fixed table.
class TableTranslator : public QTranslator {
  public:
    explicit TableTranslator(std::map<std::string, std::string> table) : table_(std::move(table)) {}
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override {
        auto found = table_.find(source);
        if (std::string_view(context) != "Localizable" || found == table_.end())
            return {};
        return QString::fromStdString(found->second);
    }

  private:
    std::map<std::string, std::string> table_;
};

TEST(Localizable, FillsPlaceholdersInOrder) {
    struct Case {
        std::string key;
        std::string expected;
    };
    const Case cases[] = {
        {"Current version: %@", "Current version: 1.2.3"},
        {"PIN is incorrect : %lld attempts remaining.", "PIN is incorrect : 1.2.3 attempts remaining."},
        {"No placeholder", "No placeholder"},
        {"%@ and %@", "1.2.3 and 42"},
        {"%lld then %@", "1.2.3 then 42"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(L(c.key, "1.2.3", 42), c.expected) << c.key;
}

TEST(Localizable, InsertedValuesAreNeverPlaceholdersThemselves) {
    EXPECT_EQ(L("%@ / %@", "%@", "x"), "%@ / x");
    EXPECT_EQ(L("%@ left", "100%lld"), "100%lld left");
}

TEST(Localizable, UsesTheTranslationAndFallsBackToTheKey) {
    TableTranslator translator({{"Greeting %@", "Hello, %@!"}, {"Subtitle name", "The subtitle"}});
    QCoreApplication::installTranslator(&translator);
    EXPECT_EQ(L("Greeting %@", "Ada"), "Hello, Ada!");
    EXPECT_EQ(L("Subtitle name"), "The subtitle");
    EXPECT_EQ(L("Untranslated %@", "x"), "Untranslated x");
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(L("Greeting %@", "Ada"), "Greeting Ada");
}

}  // namespace
