// The page sequencer over a table of test pages: each page records the slot
// it ran in and then does one scripted thing through the message loop (set
// a result, go to a page, post WM_QUIT), as a real page would.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <vector>

#include "common/heap.h"
#include "common/state.h"
#include "install/install.h"
#include "package/package.h"
#include "support/package_maker.h"
#include "ui/ui.h"
#include "ui/wizard.h"

namespace {

enum ActionKind { RESULT, GO_TO, SET_SLOT_THEN_NEXT, QUIT };
struct Action {
  ActionKind kind;
  int value;
};

struct WalkRecord {
  std::vector<Action> script;
  size_t next = 0;
  std::vector<int> slots;
  std::vector<HWND> pages;
};
WalkRecord* g_run = nullptr;

const UINT ACT = WM_APP + 1;

INT_PTR CALLBACK scripted_page(HWND page, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_run->slots.push_back(g_wizard.current_page);
    g_run->pages.push_back(page);
    PostMessageA(page, ACT, 0, 0);
    return TRUE;
  }
  if (message == ACT) {
    if (g_run->next >= g_run->script.size()) {
      g_wizard.page_result = PAGE_END; // script exhausted: stop the walk
      return TRUE;
    }
    Action a = g_run->script[g_run->next++];
    switch (a.kind) {
    case RESULT:
      g_wizard.page_result = a.value;
      break;
    case GO_TO:
      go_to_page(a.value);
      break;
    case SET_SLOT_THEN_NEXT:
      g_wizard.current_page = a.value;
      end_page(2);
      break;
    case QUIT:
      PostQuitMessage(0);
      break;
    }
    return TRUE;
  }
  return FALSE;
}

// Slots 3 and 8 have no dialog, as in the program's own table; the others
// use template index = slot (template 3 is made uncopyable in one test).
const PageSlot TEST_TABLE[PAGE_SLOT_COUNT] = {
    {0, scripted_page},   {1, scripted_page}, {2, scripted_page},
    {NO_DIALOG, nullptr}, {4, scripted_page}, {5, scripted_page},
    {6, scripted_page},   {7, scripted_page}, {NO_DIALOG, nullptr},
};

class Sequencer : public ::testing::Test {
protected:
  void SetUp() override {
    saved = g_package;
    g_package = PackageState{};
    g_package.start_page = WHOLE_WIZARD;
    set_templates(minimal_templates());
    g_app.instance = GetModuleHandleA(NULL);
    parent = CreateWindowExA(0, "STATIC", "main", WS_POPUP, 0, 0, 100, 100, NULL, NULL,
                             g_app.instance, NULL);
    ASSERT_TRUE(parent);
    g_ui.main_dialog = parent;
    set_page_table(TEST_TABLE);
    g_run = &run;
  }
  void TearDown() override {
    set_page_table(nullptr);
    g_ui.main_dialog = NULL;
    DestroyWindow(parent);
    free_and_clear(g_package.templates.data);
    g_package = saved;
    g_run = nullptr;
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    }
  }
  void set_templates(const Bytes& record) {
    free_and_clear(g_package.templates.data);
    g_package.templates.data = (uint8_t*)heap_alloc(record.size());
    memcpy(g_package.templates.data, record.data(), record.size());
    g_package.templates.size = (uint32_t)record.size();
  }
  std::vector<int> walk(std::vector<Action> script) {
    run = WalkRecord{};
    run.script = script;
    run_wizard();
    EXPECT_EQ(g_wizard.current_page, -1);
    return run.slots;
  }
  PackageState saved;
  HWND parent = NULL;
  WalkRecord run;
};

typedef std::vector<int> Slots;

} // namespace

TEST_F(Sequencer, NextBackAndEndMoveBetweenSlots) {
  EXPECT_EQ(walk({{RESULT, PAGE_NEXT},
                  {RESULT, PAGE_NEXT},
                  {RESULT, PAGE_BACK},
                  {RESULT, PAGE_BACK},
                  {RESULT, PAGE_END}}),
            (Slots{0, 1, 2, 1, 0}));
  // Back on slot 0 runs slot 0 again.
  EXPECT_EQ(walk({{RESULT, PAGE_BACK}, {RESULT, PAGE_NEXT}, {RESULT, PAGE_END}}), (Slots{0, 0, 1}));
  // Next into slot 3, which has no page, ends the wizard.
  EXPECT_EQ(walk({{RESULT, PAGE_NEXT}, {RESULT, PAGE_NEXT}, {RESULT, PAGE_NEXT}}),
            (Slots{0, 1, 2}));
}

TEST_F(Sequencer, OtherResultsRunTheSameSlotAgainWithAFreshPage) {
  EXPECT_EQ(walk({{RESULT, 3}, {RESULT, PAGE_NEXT}, {RESULT, PAGE_END}}), (Slots{0, 0, 1}));
  ASSERT_EQ(run.pages.size(), 3u);
  EXPECT_FALSE(IsWindow(run.pages[0])); // each page is destroyed before the next runs
  EXPECT_FALSE(IsWindow(run.pages[1]));
}

TEST_F(Sequencer, PagesMoveTheWizardThroughTheCurrentPageNumber) {
  // go to page 7, then Next on the finish slot runs slot 8, which ends the wizard.
  EXPECT_EQ(walk({{GO_TO, 7}, {RESULT, PAGE_NEXT}}), (Slots{0, 7}));
  // A page that sets slot 3 and Next runs slot 4; go to page 0 comes back to 0.
  EXPECT_EQ(walk({{SET_SLOT_THEN_NEXT, 3}, {GO_TO, 0}, {RESULT, PAGE_END}}), (Slots{0, 4, 0}));
  // Moved outside the table: the wizard is over.
  EXPECT_EQ(walk({{GO_TO, 12}}), (Slots{0}));
}

TEST_F(Sequencer, SinglePageRunEndsAfterItsPageWhateverTheResult) {
  for (int result : {(int)PAGE_NEXT, (int)PAGE_BACK, 3, (int)PAGE_END}) {
    g_package.start_page = 6;
    EXPECT_EQ(walk({{RESULT, result}}), (Slots{6})) << "result " << result;
  }
  // A start page naming no page (3, 8, beyond the table) shows nothing.
  for (int start : {3, 8, 9, 0xFFFE}) {
    g_package.start_page = (uint16_t)start;
    EXPECT_EQ(walk({{RESULT, PAGE_NEXT}}), (Slots{})) << "start page " << start;
  }
}

TEST_F(Sequencer, UncopyableTemplateSkipsItsSlotAndUncreatablePageEndsTheWizard) {
  Bytes record = minimal_templates();
  uint32_t past = (uint32_t)record.size() + 100;
  memcpy(record.data() + 4 * 1, &past, 4);
  set_templates(record);
  EXPECT_EQ(walk({{RESULT, PAGE_NEXT}, {RESULT, PAGE_END}}), (Slots{0, 2}));

  // Without a parent the child page cannot be created: result 2 at once.
  g_ui.main_dialog = NULL;
  EXPECT_EQ(run_page(0, scripted_page, 0), PAGE_END);
}

TEST_F(Sequencer, QuitMessageDuringAPageEndsTheWizardAndIsNotPostedAgain) {
  EXPECT_EQ(walk({{RESULT, PAGE_NEXT}, {QUIT, 0}, {RESULT, PAGE_NEXT}}), (Slots{0, 1}));
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// The wizard ends while the installation runs (the close box, Alt+F4, a
// cancel that asks nothing, WM_QUIT): nothing the installation recorded for
// the end of setup is launched. Once it has finished, they stay.
TEST_F(Sequencer, EndBeforeTheInstallationFinishedClearsTheEndOfSetupActions) {
  struct Case {
    const char* what;
    int start_page;
    bool installing;
    Action end;
    bool kept;
  } cases[] = {
      {"close while installing", WHOLE_WIZARD, true, {RESULT, PAGE_END}, false},
      {"quit while installing", WHOLE_WIZARD, true, {QUIT, 0}, false},
      {"cancel of a progress-only run", 6, true, {RESULT, PAGE_END}, false},
      {"end after the installation", WHOLE_WIZARD, false, {RESULT, PAGE_END}, true},
      {"progress-only run left after it", 6, false, {RESULT, PAGE_END}, true},
  };
  uint8_t entry = 0;
  for (const Case& c : cases) {
    g_package.start_page = (uint16_t)c.start_page;
    g_install = InstallState{};
    g_install.installing = c.installing;
    g_install.document = g_install.program = g_install.screen_saver = &entry;
    walk({c.end});
    uint8_t* expected = c.kept ? &entry : nullptr;
    EXPECT_EQ(g_install.document, expected) << c.what;
    EXPECT_EQ(g_install.program, expected) << c.what;
    EXPECT_EQ(g_install.screen_saver, expected) << c.what;
  }
  g_install = InstallState{};
}

TEST(EndPage, MapsButtonCodesToPageResults) {
  const int cases[][2] = {{1, PAGE_BACK}, {2, PAGE_NEXT}, {4, PAGE_END}};
  for (auto& c : cases) {
    g_wizard.page_result = 0;
    EXPECT_EQ(end_page(c[0]), c[0]);
    EXPECT_EQ(g_wizard.page_result, c[1]);
  }
  g_wizard.page_result = 0;
  end_page(3);
  EXPECT_EQ(g_wizard.page_result, 0);
}
