#include "x500_name.h"

#include <gtest/gtest.h>

namespace {

struct QuotingCase {
  const char* in;
  const char* out;
};

class X500Quoting : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(X500Quoting, KeepsOnlyTheQuotesAValueNeeds) {
  const auto& c = GetParam();
  EXPECT_EQ(koba::x500::NormalizeQuoting(c.in), c.out);
  const std::string in(c.in);
  const std::string out(c.out);
  EXPECT_EQ(koba::x500::NormalizeQuoting(std::wstring(in.begin(), in.end())),
            std::wstring(out.begin(), out.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Names, X500Quoting,
    ::testing::Values(
        QuotingCase{"CN=Zhang San, O=\"Koba Bank\", C=CN", "CN=Zhang San, O=Koba Bank, C=CN"},
        QuotingCase{"CN=\"Zhang San\", O=\"Koba Bank\"", "CN=Zhang San, O=Koba Bank"},
        QuotingCase{"O=\"Koba, Ltd\", C=CN", "O=\"Koba, Ltd\", C=CN"},
        QuotingCase{"O=\"Say \"\"hi\"\"\"", "O=\"Say \"\"hi\"\"\""},
        QuotingCase{"O=\" lead\", OU=\"a+b\", CN=\"x=y\"", "O=\" lead\", OU=\"a+b\", CN=\"x=y\""},
        QuotingCase{"CN=\"\"", "CN=\"\""}, QuotingCase{"CN=\"open", "CN=\"open"},
        QuotingCase{"", ""}, QuotingCase{"CN=a=b", "CN=a=b"}));

}  // namespace
