#pragma once

#include "progress/notification.h"
#include "support/mov_stages.h"
#include "platform/pacing.h"
#include "support/bytes.h"
#include "support/reference_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace arbel::test {

// Every flag of CameraFlags by name, so a test can say exactly which are set.
inline const std::vector<std::pair<const char*, bool CameraFlags::*>>& allCameraFlags() {
#define ARBEL_FLAG(name) {#name, &CameraFlags::name}
    static const std::vector<std::pair<const char*, bool CameraFlags::*>> flags = {
        ARBEL_FLAG(bNikonBrand20), ARBEL_FLAG(bNikonTag186), ARBEL_FLAG(bSignature0Bg),
        ARBEL_FLAG(bNikonTag184Lower), ARBEL_FLAG(bNikonTag184), ARBEL_FLAG(bSignature64),
        ARBEL_FLAG(bHero130), ARBEL_FLAG(bHero115), ARBEL_FLAG(bFC63), ARBEL_FLAG(bVixia),
        ARBEL_FLAG(bGH5), ARBEL_FLAG(bH3B), ARBEL_FLAG(bGH4), ARBEL_FLAG(bP520), ARBEL_FLAG(bP600),
        ARBEL_FLAG(bCanon), ARBEL_FLAG(bCanonG9XMarkII), ARBEL_FLAG(bCanonG7XMarkII),
        ARBEL_FLAG(bCanonRebelT6i), ARBEL_FLAG(bCanon1DXMarkII), ARBEL_FLAG(bCanon70D),
        ARBEL_FLAG(bCanon80D), ARBEL_FLAG(bCanon5DMarkIV), ARBEL_FLAG(bCanonRebelT3i),
        ARBEL_FLAG(bCanon5DMarkII), ARBEL_FLAG(bCanon60D), ARBEL_FLAG(bCanon6D), ARBEL_FLAG(bSonyA6500),
        ARBEL_FLAG(bSonyAX53), ARBEL_FLAG(bSonyAX33), ARBEL_FLAG(bSonyAX1E), ARBEL_FLAG(bSonyAX100),
        ARBEL_FLAG(bSonyA7SM2), ARBEL_FLAG(bSonyA7S), ARBEL_FLAG(bAudioFirst211C44),
        ARBEL_FLAG(bAudioFirst20_6C), ARBEL_FLAG(bAudioSig013499), ARBEL_FLAG(bAudioSig0198DA),
        ARBEL_FLAG(bAudioSig01_15), ARBEL_FLAG(bAudioSig01_17), ARBEL_FLAG(bAudioSig00_40),
        ARBEL_FLAG(bAudioSig21_55), ARBEL_FLAG(bAudioSig211A1495), ARBEL_FLAG(bAudioSig21),
        ARBEL_FLAG(bAudioSig91_91), ARBEL_FLAG(bAudioSigCD_CD), ARBEL_FLAG(bAudioSig00_58),
        ARBEL_FLAG(bAudioSig78_78), ARBEL_FLAG(bAudioSig8E_8E), ARBEL_FLAG(bAudioSigC6_C6),
        ARBEL_FLAG(bAudioSigBB_20), ARBEL_FLAG(bAudioSigB5_E0), ARBEL_FLAG(bAudioSig0C_5C),
        ARBEL_FLAG(bAudioSig39_9D), ARBEL_FLAG(bAudioSig21_FC), ARBEL_FLAG(bAudioSig20_09),
        ARBEL_FLAG(bAudioSig20_08), ARBEL_FLAG(bAudioSig01_17Iso), ARBEL_FLAG(bAudioSig01_9B2D),
        ARBEL_FLAG(bAudioSig01_362D),
    };
#undef ARBEL_FLAG
    return flags;
}

inline std::vector<std::string> flagsSet(const CameraFlags& flags) {
    std::vector<std::string> names;
    for (const auto& [name, member] : allCameraFlags())
        if (flags.*member) names.emplace_back(name);
    return names;
}

using Names = std::vector<std::string>;

// A reference (and a damaged file) on disk, an engine over them, and the
// notifications the engine posts.
class ReferenceTest : public ::testing::Test {
protected:
    ReferenceTest() {
        Pacing::setMode(Pacing::Mode::Zero);
        center.addObserver("", [this](const std::string&, const NotifDict& info) { posts.push_back(info); });
    }

    // A damaged file that is only probed at offset 8.
    static std::vector<uint8_t> plainDamaged() { return atom("ftyp", Bytes().text("qt  ").zeros(8)).vec(); }

    // The stages of a repair over these files (handles open, nothing run yet).
    std::unique_ptr<MovStages> engineFor(const std::vector<uint8_t>& reference,
                                         const std::vector<uint8_t>& damaged = plainDamaged()) {
        auto engine = std::make_unique<MovStages>(dir.write("reference.mov", reference),
                                                  dir.write("damaged.mov", damaged));
        engine->setNotificationCenter(&center);
        posts.clear();
        return engine;
    }

    // After the signature walk.
    std::unique_ptr<MovStages> walked(const std::vector<uint8_t>& reference) {
        auto engine = engineFor(reference);
        EXPECT_TRUE(engine->signatureWalk());
        return engine;
    }

    // After the signature walk and the template walk.
    std::unique_ptr<MovStages> analysed(const std::vector<uint8_t>& reference,
                                         const std::vector<uint8_t>& damaged = plainDamaged()) {
        auto engine = engineFor(reference, damaged);
        EXPECT_TRUE(engine->signatureWalk());
        EXPECT_TRUE(engine->takeReferenceTemplates());
        return engine;
    }

    // Every text posted under `key`, in order.
    std::vector<std::string> posted(const std::string& key) const {
        std::vector<std::string> texts;
        for (const NotifDict& info : posts)
            if (auto text = notifString(info, key)) texts.push_back(*text);
        return texts;
    }

    // Every progress posted with a status text, in order.
    std::vector<double> progressValues() const {
        std::vector<double> values;
        for (const NotifDict& info : posts)
            if (auto value = notifNumber(info, "progress")) values.push_back(*value);
        return values;
    }

    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    NotificationCenter center;
    std::vector<NotifDict> posts;
};

}  // namespace arbel::test
