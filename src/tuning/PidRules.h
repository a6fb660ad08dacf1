#pragma once
#include "FopdtFit.h"
#include "ParamTable.h"

#include <QtGlobal>

#include <optional>

// PID settings in the ideal (parallel) form the instrument computes:
//   u = Kc·e + (Kc/Ti)·∫e dt − Kc·Td·d(PV)/dt
// with u in percent and e in PV units. Td = 0 is PI.
struct PidSettings {
    double gain = 0.0;           // Kc, percent per PV unit
    double integralTime = 0.0;   // Ti, s
    double derivativeTime = 0.0; // Td, s
};

// Closed-loop time constant of the SIMC rules: τc = θ or τc = 3θ.
enum class TuningSpeed { Fast, Robust };
enum class ControllerKind { PI, PID };

namespace Simc {

// Below a second of dead time the sampled loop cannot be told from no dead
// time; the rules are taken with at least this much so Kc stays finite.
constexpr double kMinDeadTime = 1.0;

// SIMC rules for a first-order-plus-dead-time process. PI:
//   Kc = τ / (|K| (τc + θ)),  Ti = min(τ, 4 (τc + θ)).
// PID uses the FOPDT variant with Td = θ/3 and τ + θ/3 in place of τ, which
// the rules give in series (interacting) form; it is converted here to the
// ideal form the instrument computes: Kc·(1 + Td/Ti), Ti + Td, Ti·Td/(Ti + Td).
// The sign of K is left to the instrument's action setting (heating reverse,
// cooling direct), so the gain is taken by magnitude.
std::optional<PidSettings> suggest(const FopdtModel& model, ControllerKind kind, TuningSpeed speed);

QString speedText(TuningSpeed speed); // "快速" / "稳健"

} // namespace Simc

// The three PID registers as the instrument reads them: proportional band in
// PV units (Kc = 100 / band percent per unit; 0 would mean on/off control),
// integral time in whole seconds (0 would mean no integral action) and
// derivative time in tenths of a second.
// Registers and upper bounds are the configuration table's (ParamTable).
struct InstrumentPid {
    static constexpr int kBandParam = 29; // output 1 proportional band
    static constexpr int kIntegralParam = 31;
    static constexpr int kDerivativeParam = 32;
    static constexpr int kBandRegister = ParamTable::kFirstRegister + kBandParam;
    static constexpr int kIntegralRegister = ParamTable::kFirstRegister + kIntegralParam;
    static constexpr int kDerivativeRegister = ParamTable::kFirstRegister + kDerivativeParam;

    qint32 band = 0;
    qint32 integral = 0;
    qint32 derivativeTenths = 0;
    bool clamped = false; // a value had to be brought inside the bounds

    static InstrumentPid fromSettings(const PidSettings& pid);

private:
    // The test's way back from registers to settings; nothing else needs it.
    friend class TestTuning;
    // What the instrument will compute with these registers; nullopt for
    // on/off control (band 0).
    std::optional<PidSettings> settings() const;
};
