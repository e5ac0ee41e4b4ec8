// Child-control identifiers of the window, shared with the end-to-end driver
// that finds controls from outside the process.
#pragma once

inline constexpr wchar_t kMainWindowClass[] = L"CorvaneStackholdMain";

enum ControlId : int {
    kIdLabel1 = 1001,
    kIdLabel2 = 1002,
    kIdLabel3 = 1003,
    kIdLabelClose = 1004,
    kIdAbout1 = 1010,
    kIdAbout2 = 1011,
    kIdStep1Name = 1021,
    kIdStep2Name = 1022,
    kIdStep3Name = 1023,
    kIdStep4Name = 1024,
    kIdStep5Name = 1025,
    kIdStep2T1 = 1030,
    kIdStep2Version = 1031,
    kIdStep2T2 = 1032,
    kIdStep2Path = 1033,
    kIdStep2Select = 1034,
    kIdStep2Submit = 1035,
    // Pictures are painted by the window itself and have no child window;
    // their identifiers only name them in the model.
    kIdPicture1 = 1100,
    kIdImageOK2 = 1101,
    kIdImage1 = 1102,
    kIdImageWait = 1103,
    kIdImageOK = 1104,
    kIdStep1Img = 1111,
    kIdStep2Img = 1112,
    kIdStep3Img = 1113,
    kIdStep4Img = 1114,
    kIdStep5Img = 1115,
};
