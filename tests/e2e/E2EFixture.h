#pragma once
// The whole program against a simulated receiver: the windows are created with the
// simulator's device at the head of the port list, and the real 100 ms timer runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "app/Forms.h"
#include "link/Port.h"
#include "sim/Simreceiver.h"
#include "support/QtHelpers.h"
#include "ui/Mainform.h"
#include "ui/Portform.h"
#include "ui/Scaleutils.h"

class E2ETest : public ::testing::Test {
  protected:
    void StartSim(const SimOptions& options) {
        sim = std::make_unique<SimReceiver>(options);
        ASSERT_TRUE(sim->Start()) << sim->LastError();
        CommandLineDevices() = {sim->DevicePath()};
        SystemPortLister = [](StringDeque& list) {
            list.clear();
            return true;
        };
        CreateForms();
    }
    void TearDown() override {
        DestroyForms();  // first: a software load still running stops and lets go of the port
        Link().line.Close();
        CommandLineDevices().clear();
        SystemPortLister = ListSerialPorts;
        if (sim) {
            sim->Stop();
        }
    }
    // Runs the event loop (and with it the receive timer) for a while.
    static void RunFor(int ms) {
        testsupport::WaitUntil([] { return false; }, ms);
    }

    std::unique_ptr<SimReceiver> sim;
};
