// The Server page answered over the air by tessary-cli serve, the native
// build on the same sound server; serve_e2e.sh starts it before this runs.
#include <gtest/gtest.h>
#include "shell/shell.h"
#include "tabs/tabs.h"
#include "tests/e2e/driver.h"

TEST(ServeE2e, TheServerPageReadsWhatServeAnswers) {
    DrvApp app;
    ASSERT_TRUE(drv_start(&app, TESSARY_EXE, 30000));
    drv_select_tab(&app, DRV_TAB_SERVER);
    drv_set_text(drv_item(&app, DRV_TAB_SERVER, IDC_SERVER_DIR_EDIT), "0123");
    drv_set_text(drv_item(&app, DRV_TAB_SERVER, IDC_SERVER_MSG_EDIT), "hi");
    drv_click(drv_item(&app, DRV_TAB_SERVER, IDC_SERVER_SEND));
    HWND status = drv_item(&app, DRV_TAB_SERVER, IDC_SERVER_STATUS);
    HWND response = drv_item(&app, DRV_TAB_SERVER, IDC_SERVER_RESPONSE);
    EXPECT_TRUE(drv_wait_text(status, "Listening for response...", 30000))
        << drv_text(status);
    EXPECT_TRUE(drv_wait_text(response, "you said hi", 30000)) << drv_text(response);
    drv_close(&app, 10000);
}
