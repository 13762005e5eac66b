#pragma once
// Builds the program's whole window set for a test, and tears it down afterwards, with the
// shared serial port closed on both sides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Forms.h"
#include "link/Port.h"
#include "ui/Portform.h"

class FormsTest : public ::testing::Test {
  protected:
    // Devices listed first in the port dialog, as the command line gives them.
    // The system's own ports are left out, so that the list is the same on every machine.
    void CreateWithDevices(std::vector<std::string> devices) {
        CommandLineDevices() = std::move(devices);
        SystemPortLister = [](StringDeque& list) {
            list.clear();
            return true;
        };
        CreateForms();
    }
    void SetUp() override {}
    void TearDown() override {
        DestroyForms();  // first: a software load still running stops and lets go of the port
        Link().serialPort.Close();
        CommandLineDevices().clear();
        SystemPortLister = ListSerialPorts;
    }
};
