#pragma once

// Shared set-up of the writer tests: an engine holding the header pieces a
// camera reference gives, an output file with reserved header bytes and
// recorded units, and a log of every notification the engine posts.

#include "progress/notification.h"
#include "support/mov_stages.h"
#include "platform/pacing.h"
#include "support/atom_tree.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace arbel::test {

struct Posted {
    std::string key;     // "status", "fps", "duration", "track", ...
    std::string text;
    std::optional<double> progress;
};

inline Bytes handlerAtom(const std::string& kind, const std::string& subtype) {
    return atom("hdlr", Bytes().u32be(0).text(kind).text(subtype).u32be(0).u32be(0).u32be(0).u8(0));
}

inline Bytes dinfAtom() {
    return atom("dinf", atom("dref", Bytes().u32be(0).u32be(1).append(atom("alis", Bytes().u32be(1)))));
}

// A version-0 media header cut before its duration, as the reference walk keeps it.
inline Bytes mediaHeaderPiece(uint32_t timeScale) {
    return Bytes().u32be(32).text("mdhd").u32be(0).u32be(0xAAAA0001).u32be(0xAAAA0002).u32be(timeScale);
}

class WriterTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    NotificationCenter center;
    std::vector<Posted> posted;
    std::string outPath = dir.file("out.mov");
    MovStages engine;

    WriterTest() {
        Pacing::setMode(Pacing::Mode::Zero);
        center.addObserver("", [this](const std::string&, const NotifDict& info) {
            Posted p;
            for (const auto& [key, value] : info) {
                if (key == "progress") p.progress = std::get<double>(value);
                else {
                    p.key = key;
                    p.text = std::get<std::string>(value);
                }
            }
            posted.push_back(p);
        });
        engine.setNotificationCenter(&center);
        giveReferencePieces();
    }

    // The pieces of a reference with an H.264 video track and an AAC audio track.
    void giveReferencePieces() {
        MovStages& e = engine;
        e.templates.Movfileisvalid = 1;
        e.templates.mvhd_timescale = 30000;
        e.templates.duratonFPS = 300300;
        e.templates.dw_ReffrenceSamplecount = 300;
        e.templates.firstVideoSampleDelta = 1001;
        e.templates.mdhdAudioTimeScale = 48000;
        e.templates.Audio_duratonFPS = 48000;
        e.templates.dw_ReffrenceSamplecountAudio = 47;
        e.analysis.mp4aPresent = 1;
        e.templates.Size_ofAudiochunk = 1024;

        Bytes tkhd;
        tkhd.u32be(92).text("tkhd").u32be(0xF).zeros(36);
        for (int i = 0; i < 36; ++i) tkhd.u8(static_cast<uint8_t>(0x40 + i));  // a recognisable matrix
        tkhd.u32be(0x07800000).u32be(0x04380000);                               // 1920 x 1080
        e.templates.trak_data = tkhd.vec();

        e.templates.bpMdhdDataStore = mediaHeaderPiece(30000).vec();
        e.templates.bpHdlrDataStore = Bytes().u32be(0x55C40000).append(handlerAtom("mhlr", "vide")).vec();
        e.templates.bpMingVmhdDataStore = Bytes().text("minf").append(atom("vmhd", Bytes().u32be(1).zeros(8))).vec();
        e.templates.bpMinfHdlrData = handlerAtom("dhlr", "alis").vec();
        e.templates.bpMinfDinfData = dinfAtom().vec();
        e.templates.videoSampleDescription =
            Bytes().text("stbl").append(atom("stsd", Bytes().u32be(0).u32be(1).append(atom("avc1", Bytes().zeros(78)))))
                .vec();
        e.templates.stts_data = atom("stts", Bytes().u32be(0).u32be(1).u32be(300).u32be(1001)).vec();

        e.templates.bpMdhdAudioDataStore = mediaHeaderPiece(48000).vec();
        e.templates.bpHdlrAudioDataStore = Bytes().u32be(0x55C40000).append(handlerAtom("mhlr", "soun")).vec();
        e.templates.bpAudioMingSmhdDataStore = Bytes().text("minf").append(atom("smhd", Bytes().u32be(0).u32be(0))).vec();
        e.templates.bpAudioMinfHdlrData = handlerAtom("dhlr", "alis").vec();
        e.templates.bpAudioMinfDinfData = dinfAtom().vec();
        e.templates.Audio_stsd_data =
            Bytes().text("stbl").append(atom("stsd", Bytes().u32be(0).u32be(1).append(atom("mp4a", Bytes().zeros(28)))))
                .vec();
    }

    // Creates the output with the header bytes reserved, as a scan does.
    void openOutput(uint64_t headerBytes = 8) {
        engine.result.mediaHeaderSize = headerBytes;
        ASSERT_TRUE(engine.result.outputfile.create(outPath));
        engine.result.outputfile.appendZeros(headerBytes);
    }

    static std::vector<uint8_t> unitBytes(size_t length, uint8_t seed) {
        std::vector<uint8_t> b(length);
        for (size_t i = 0; i < length; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
        return b;
    }

    void addVideo(size_t length, uint8_t seed) {
        engine.tables.recordVideo(engine.result.outputfile.cursor(), length);
        engine.result.outputfile.append(unitBytes(length, seed));
    }

    void addAudio(size_t length, uint8_t seed) {
        engine.tables.recordAudio(engine.result.outputfile.cursor(), length);
        engine.result.outputfile.append(unitBytes(length, seed));
    }

    // Frames and audio chunks interleaved: v a v a ...
    void addInterleaved(int frames, int audioChunks) {
        for (int i = 0; i < std::max(frames, audioChunks); ++i) {
            if (i < frames) addVideo(static_cast<size_t>(100 + 13 * i), static_cast<uint8_t>(i));
            if (i < audioChunks) addAudio(static_cast<size_t>(40 + 3 * i), static_cast<uint8_t>(0x80 + i));
        }
    }

    std::vector<Posted> postedWith(const std::string& key) const {
        std::vector<Posted> out;
        for (const auto& p : posted)
            if (p.key == key) out.push_back(p);
        return out;
    }
    bool postedStatus(const std::string& text) const {
        for (const auto& p : posted)
            if (p.key == "status" && p.text == text) return true;
        return false;
    }
    void expectRefusedOnly() const {
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted.back().key, "status");
        EXPECT_EQ(posted.back().text, "Can not repair this file..");
        EXPECT_EQ(posted.back().progress, 101.0);
        EXPECT_FALSE(postedStatus("Repair completed."));
    }
    void expectCompleted() const {
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted.back().text, "Repair completed.");
        EXPECT_EQ(posted.back().progress, 100.0);
        EXPECT_FALSE(postedStatus("Can not repair this file.."));
    }

    AtomTree result() const {
        AtomTree tree = AtomTree::parseFile(outPath);
        for (const auto& error : tree.errors()) ADD_FAILURE() << error;
        return tree;
    }
};

}  // namespace arbel::test
