// Job options and the queue's location.
#include "driver/job_options.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Parsed {
  int numUP;
  BOOL bCollate;
};

Parsed Parse(const char *text) {
  cups_option_t *options = nullptr;
  int n = ParseJobOptions(text, &options);
  Parsed p{};
  GetJobOptions(n, options, &p.numUP, &p.bCollate);
  cupsFreeOptions(n, options);
  return p;
}

TEST(JobOptions, ReadsNumberUpAndCollate) {
  Parsed p = Parse("number-up=4 Collate=True");
  EXPECT_EQ(p.numUP, 4);
  EXPECT_EQ(p.bCollate, TRUE);
  EXPECT_EQ(DriverDoesCollate(p.bCollate, nullptr, 3), TRUE);
}

TEST(JobOptions, TakesOnlyTheWordTrueForCollateInAnyCase) {
  EXPECT_EQ(Parse("Collate=yes").bCollate, FALSE);
  EXPECT_EQ(Parse("collate=TRUE").bCollate, TRUE);
  EXPECT_EQ(Parse("COLLATE=false").bCollate, FALSE);
  // CUPS's own shorthands: a bare name is "true", a "no" prefix "false".
  EXPECT_EQ(Parse("Collate").bCollate, TRUE);
  EXPECT_EQ(Parse("noCollate").bCollate, FALSE);
}

TEST(JobOptions, IppDocumentHandlingAsksForCollationUnlessACollateOptionSaysOtherwise) {
  EXPECT_EQ(Parse("multiple-document-handling=separate-documents-collated-copies").bCollate, TRUE);
  EXPECT_EQ(Parse("multiple-document-handling=separate-documents-uncollated-copies").bCollate,
            FALSE);
  EXPECT_EQ(Parse("multiple-document-handling=single-document").bCollate, FALSE);
  // An explicit Collate option wins whichever order the options come in.
  EXPECT_EQ(
      Parse("Collate=false multiple-document-handling=separate-documents-collated-copies").bCollate,
      FALSE);
  EXPECT_EQ(
      Parse("multiple-document-handling=separate-documents-uncollated-copies collate").bCollate,
      TRUE);
}

TEST(JobOptions, NumberUpTakesTheLeadingDigits) {
  EXPECT_EQ(Parse("number-up=2x").numUP, 2);
  EXPECT_EQ(Parse("number-up=x2").numUP, 0);
  EXPECT_EQ(Parse("Number-Up=6").numUP, 6);
  EXPECT_EQ(Parse("").numUP, 1);
  EXPECT_EQ(Parse("media=a4 job-uuid=urn:uuid:1 number-up=16 sides=two-sided-long-edge").numUP, 16);
}

TEST(JobOptions, ParsingTwiceKeepsEachOptionOnce) {
  cups_option_t *options = nullptr;
  int n = ParseJobOptions("a=1 b='two words' c={x=1}", &options);
  EXPECT_EQ(n, 3);
  EXPECT_STREQ(cupsGetOption("b", n, options), "two words");
  cupsFreeOptions(n, options);
}

TEST(JobOptions, TheFilterCollatesOnlyForTwoCopiesOrMore) {
  EXPECT_EQ(DriverDoesCollate(TRUE, nullptr, 1), FALSE);
  EXPECT_EQ(DriverDoesCollate(TRUE, nullptr, 2), TRUE);
  EXPECT_EQ(DriverDoesCollate(FALSE, nullptr, 5), FALSE);
  EXPECT_EQ(DriverDoesCollate(FALSE, "True", 1), FALSE);
}

TEST(JobOptions, ThePpdsMarkedCollateChoiceOverridesTheOptionText) {
  EXPECT_EQ(DriverDoesCollate(FALSE, "True", 2), TRUE);
  EXPECT_EQ(DriverDoesCollate(FALSE, "true", 2), TRUE);
  EXPECT_EQ(DriverDoesCollate(TRUE, "False", 2), FALSE);
}

// Destinations as cupsGetDests gives them: queues, instances and their options.
class Destinations : public ::testing::Test {
 protected:
  void Add(const char *name, const char *instance, const char *location) {
    n_ = cupsAddDest(name, instance, n_, &dests_);
    if (location) {
      cups_dest_t *d = cupsGetDest(name, instance, n_, dests_);
      d->num_options = cupsAddOption("printer-location", location, d->num_options, &d->options);
    }
  }
  std::string Find(const char *queue, size_t size = 260) {
    char location[260];
    memset(location, 'x', sizeof location);
    FindPrinterLocation(n_, dests_, queue, location, size);
    return location;
  }
  void TearDown() override { cupsFreeDests(n_, dests_); }
  int n_ = 0;
  cups_dest_t *dests_ = nullptr;
};

TEST_F(Destinations, TakesTheLocationOfTheQueueNamedExactly) {
  Add("office", nullptr, "Room 12");
  Add("Zelvar", nullptr, "Second floor");
  EXPECT_EQ(Find("Zelvar"), "Second floor");
  EXPECT_EQ(Find("office"), "Room 12");
  EXPECT_EQ(Find("zelvar"), "");
  EXPECT_EQ(Find("Zelva"), "");
}

TEST_F(Destinations, TheLastNonEmptyLocationOfTheQueuesInstancesWins) {
  Add("zelvar", nullptr, "Base");
  Add("zelvar", "draft", "Draft tray");
  Add("zelvar", "fine", "");
  EXPECT_EQ(Find("zelvar"), "Draft tray");
}

TEST_F(Destinations, NoLocationGivesTheEmptyTextAndALongOneIsCut) {
  Add("bare", nullptr, nullptr);
  EXPECT_EQ(Find("bare"), "");
  Add("long", nullptr, std::string(400, 'L').c_str());
  EXPECT_EQ(Find("long"), std::string(259, 'L'));
  EXPECT_EQ(Find("long", 10), std::string(9, 'L'));
}

}  // namespace
