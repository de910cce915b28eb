#include "SettingControls.h"

namespace velkor {
namespace {

struct Control {
    std::string_view key, edit, button, handler;
};

// Both profile groups show the same caption and hint for a parameter and its laminated twin.
struct Row {
    std::string_view caption;
    std::string_view hint;
    Control white;
    Control laminated;
};

// The general parameters, top to bottom.
const Row kGeneral[] = {
    {"Длина артикула",
     "",
     {"L_marking", "E_L_marking", "Speed_L_marking", "Speed_L_markingClick"},
     {}},
    {"Длина штрихкода",
     "",
     {"L_BarCode", "E_L_BarCode", "Speed_L_BarCode", "Speed_L_BarCodeClick"},
     {}},
    {"Ход цилиндра",
     "Ход цилиндра",
     {"Step_pnevmo", "E_Step_pnevmo", "Speed_Step_pnevmo", "Speed_Step_pnevmoClick"},
     {}},
    {"Кол импульсов на 1 мм",
     "",
     {"Qty_Imp_mm", "E_Qty_Imp_mm", "Speed_Qty_Imp_mm", "Speed_Qty_Imp_mmClick"},
     {}},
};

// The profile parameters, top to bottom.
const Row kProfile[] = {
    {"Длина протяжки заготовки",
     "",
     {"SH_S", "Edit_L_protyaj", "L_Protyajki", "L_ProtyajkiClick"},
     {"SH_S_L", "Edit_L_protyaj_L", "SpeedButton2", "SpeedButton2Click"}},
    {"Расст. меж гол.",
     "",
     {"head_DELTA", "E_head_DELTA", "But_head_DELTA", "But_head_DELTAClick"},
     {"head_DELTA_L", "E_head_DELTA_L", "SpeedButton4", "SpeedButton4Click"}},
    {"Скорость",
     "",
     {"setSpeed", "E_setSpeed", "Button_setSpeed", "Button_setSpeedClick"},
     {"setSpeed_L", "E_setSpeed_L", "SpeedButton5", "SpeedButton5Click"}},
    {"Ускорение",
     "",
     {"setAccel", "E_setAccel", "SpeedButton3", "SpeedButton3Click"},
     {"setAccel_L", "E_setAccel_L", "SpeedButton6", "SpeedButton6Click"}},
    {"задержка между саморезами",
     "задержка между саморезами",
     {"SAM_DEL", "E_SAM_DEL", "Speed_SAM_DEL", "Speed_SAM_DELClick"},
     {"SAM_DEL_L", "E_SAM_DEL_L", "SpeedButton7", "SpeedButton7Click"}},
    {"Расст. от датч. конца  до головы",
     "",
     {"STP_OUT", "E_STP_OUT", "Speed_STP_OUT", "Speed_STP_OUTClick"},
     {"STP_OUT_L", "E_STP_OUT_L", "SpeedButton8", "SpeedButton8Click"}},
    {"Расстояние до датчика паза",
     "Расстояние от первой головы до датчика паза",
     {"L1headPaz", "E_L1headPaz", "Speed_L1headPaz", "Speed_L1headPazClick"},
     {"L1headPaz_L", "E_L1headPaz_L", "SpeedButton9", "SpeedButton9Click"}},
    {"Расстояние от упора до головы",
     "Расстояние головы конца заготовки после датчика",
     {"L_upor", "E_L_upor", "Speed_L_upor", "Speed_L_uporClick"},
     {"L_upor_L", "E_L_upor_L", "SpeedButton10", "SpeedButton10Click"}},
    {"Скорость выброса заготовки",
     "",
     {"setS_OUT", "E_setS_OUT", "Speed_setS_OUT", "Speed_setS_OUTClick"},
     {"setS_OUT_L", "E_setS_OUT_L", "SpeedButton12", "SpeedButton12Click"}},
    {"Кол мм для выброса",
     "",
     {"stToR", "E_stToR", "Speed_stToR", "Speed_stToRClick"},
     {"stToR_L", "E_stToR_L", "SpeedButton11", "SpeedButton11Click"}},
    {"Ускорение выброса заготовки",
     "",
     {"setA_OUT", "E_setA_OUT", "Speed_setA_OUT", "Speed_setA_OUTClick"},
     {"setA_OUT_L", "E_setA_OUT_L", "SpeedButton13", "SpeedButton13Click"}},
    {"Дельта для ручки, мм",
     "Дельта для ручки, мм",
     {"R_DELTA", "E_R_DELTA", "Speed_R_DELTA", "Speed_R_DELTAClick"},
     {"R_DELTA_L", "E_R_DELTA_L", "SpeedButton14", "SpeedButton14Click"}},
    {"Задержка упора, мс",
     "",
     {"uporDelay", "E_uporDelay", "Speed_uporDelay", "Speed_uporDelayClick"},
     {"uporDelay_L", "E_uporDelay_L", "SpeedButton15", "SpeedButton15Click"}},
    {"Задержка упора начало, мс",
     "",
     {"n_uporDelay", "E_uporDelay_n", "Speed_uporDelay_n", "Speed_uporDelay_nClick"},
     {"n_uporDelay_L", "E_uporDelay_n_L", "SpeedButton17", "SpeedButton17Click"}},
    {"Задержка скидывателя, мс",
     "",
     {"SbrosDelay", "E_SbrosDelay", "Speed_SbrosDelay", "Speed_SbrosDelayClick"},
     {"SbrosDelay_L", "E_SbrosDelay_L", "SpeedButton16", "SpeedButton16Click"}},
    {"Малый шаг (S_SH_S)",
     "S_SH_S - малый шаг (короткие заготовки)",
     {"S_SH_S", "E_S_SH_S", "Speed_S_SH_S", "Speed_S_SH_SClick"},
     {"S_SH_S_L", "E_S_SH_S_L", "Speed18", "Speed18Click"}},
    {"Возврат самореза",
     "",
     {"VOZVRAT", "B_VOZVRAT", "Speed_VOZVRAT", "Speed_VOZVRATClick"},
     {"VOZVRAT_L", "B_VOZVRAT_L", "SpeedButton18", "SpeedButton18Click"}},
};

SettingControl controlOf(SettingsArea area, const Row& row, const Control& control) {
    return {area,
            row.caption,
            row.hint,
            control.edit,
            control.button,
            control.handler,
            &machineParameter(control.key)};
}

}  // namespace

const std::vector<SettingControl>& settingControls() {
    static const std::vector<SettingControl> controls = [] {
        std::vector<SettingControl> all;
        for (const Row& row : kGeneral) {
            all.push_back(controlOf(SettingsArea::General, row, row.white));
        }
        for (const Row& row : kProfile) {
            all.push_back(controlOf(SettingsArea::WhiteProfile, row, row.white));
        }
        for (const Row& row : kProfile) {
            all.push_back(controlOf(SettingsArea::LaminatedProfile, row, row.laminated));
        }
        return all;
    }();
    return controls;
}

}  // namespace velkor
