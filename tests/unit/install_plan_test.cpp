#include <gtest/gtest.h>

#include "install_plan.hpp"

namespace brq_install {
namespace {

TEST(install_plan, holds_the_products_three_files_in_order) {
  install_plan plan = build_install_plan();
  EXPECT_EQ(plan.variant, L"brq");
  EXPECT_EQ(plan.destination, L"");
  EXPECT_EQ(plan.crt, crt_flavour::unknown);
  EXPECT_EQ(plan.os.major + plan.os.minor + plan.os.build + plan.os.revision, 0u);
  EXPECT_TRUE(plan.services.empty());
  EXPECT_TRUE(plan.registered.empty());

  struct expected {
    uint16_t id;
    const wchar_t* name;
    bool firewall, service;
    const wchar_t *service_name, *display_name, *description;
  } rows[] = {
      {101, L"qzv.ua.brq.exe", true, true, L"QZVOPCUA.BRQ", L"qzv OPCUA server for BRQ",
       L"qzv BRQ opcua server 1.0.0.0, 64-bit"},
      {102, L"qzv.ua.brq.ctrl.exe", false, false, L"", L"", L""},
      {103, L"qzv.ua.brq.dev.exe", false, false, L"", L"", L""},
  };
  ASSERT_EQ(plan.files.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const payload_file& file = *plan.files[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(file.resource_id, rows[i].id);
    EXPECT_EQ(file.name, rows[i].name);
    EXPECT_EQ(file.crt, crt_flavour::unknown);
    EXPECT_EQ(file.firewall, rows[i].firewall);
    EXPECT_EQ(file.service, rows[i].service);
    EXPECT_EQ(file.service_name, rows[i].service_name);
    EXPECT_EQ(file.display_name, rows[i].display_name);
    EXPECT_EQ(file.description, rows[i].description);
    EXPECT_EQ(file.service_args, L"");
  }
}

TEST(install_plan, add_payload_file_appends_an_entry_the_caller_can_fill) {
  install_plan plan;
  auto file = add_payload_file(plan, 7, "x.exe");
  file->service = true;
  ASSERT_EQ(plan.files.size(), 1u);
  EXPECT_EQ(plan.files[0], file);
  EXPECT_EQ(plan.files[0]->name, L"x.exe");
  EXPECT_TRUE(plan.files[0]->service);
  EXPECT_FALSE(plan.files[0]->firewall);
}

TEST(install_plan, a_second_service_list_for_a_file_keeps_the_first) {
  install_plan plan;
  service_record first, second;
  first.name = L"first";
  second.name = L"second";
  plan.services.emplace(L"qzv.ua.brq.exe", std::vector{first});
  plan.services.emplace(L"qzv.ua.brq.exe", std::vector{second});
  ASSERT_EQ(plan.services.size(), 1u);
  ASSERT_EQ(plan.services[L"qzv.ua.brq.exe"].size(), 1u);
  EXPECT_EQ(plan.services[L"qzv.ua.brq.exe"][0].name, L"first");
  EXPECT_EQ(plan.services.count(L"QZV.UA.BRQ.EXE"), 0u);  // keys compare exactly
}

}  // namespace
}  // namespace brq_install
