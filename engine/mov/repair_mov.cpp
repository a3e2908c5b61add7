// The repair operation: the stages of a QuickTime-family repair in order.
#include "repair_file.h"

#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/system_log.h"

namespace arbel {

void RepairFile::resetForRepair() {
    temBufferSize = 65536;
    R_liullbytesmoved = 0;
    whloesizeofmdat = lMovetoMdhd = Numberofsample_inChunck = mdhdAudioTimeScale = 0;
    Audio_duratonFPS = sizeofFtyp = udatawholesize = mvhd_timescale = duratonFPS = 0;
    dsizeofVideoMdhd = dSizeOfAtoms = dsizeOfVideoHdlr = dSizeOfMinfVmhd = dSizeOfMinfHdlr = 0;
    dSizeOfDminf = dw_ReffrenceSamplecount = wholesizeofstts = 0;
    stco_Address_Video_second_chunk_sizetojump = 0;
    dSizeOfAudioMdhd = dSizeOfAudioMdiaHdlr = dSzieOfAudioMinfSmhd = dSizeOfAudioMinfHdlr = 0;
    dSizeOfAudioMinfDinf = Audiosizeosstsd = AudiostsdAtomdata = 0;
    flags = CameraFlags{};

    referencefilehandle.open(referenceFilePath);
    inputfilehandle.open(corruptFilePath);
    dwBufferSize = 65536;
    ullBytesTraversed = 0;
    reporter.status(kAnalyzingText, 1.0, 1.0);
}

bool RepairFile::createTemporaryResult() {
    temporaryResultPath = resultPathOverride.empty()
                              ? arbel::temporaryResultPath(bundleIdentifierString(), ResultKind::Mov)
                              : resultPathOverride;
    // The 64-bit media-data header takes 16 bytes. Reserve them whenever that
    // form will be written, so the header never lands on media bytes.
    constexpr uint64_t k32BitLimit = 0xFFFFFFFFull;
    mediaHeaderSize = (its_A_morethen_4GB_FILE || corruptFileSize + 16 >= k32BitLimit) ? 16 : 8;
    mediaHeaderWritten = false;
    if (!ensureParentFolder(temporaryResultPath)) {
        systemLogf("Can not create the folder of %s", temporaryResultPath.c_str());
        return false;
    }
    if (!outputfile.create(temporaryResultPath)) {
        systemLogf("Can not create %s", temporaryResultPath.c_str());
        return false;
    }
    return true;
}

void RepairFile::repairMOV() {
    resetForRepair();
    if (!signatureWalk()) return;
    if (!takeReferenceTemplates()) return;

    if (!createTemporaryResult()) {
        reporter.status(kCannotRepairText, 101.0, 2.0);
        return;
    }
    switch (decideScanPath()) {
    case ScanPath::Refuse:
        outputfile.close();
        reporter.status(kCannotRepairText, 101.0, 2.0);
        return;
    case ScanPath::Mjpeg:
        if (!runMjpegScan()) return;
        finishMjpegPath();
        return;
    case ScanPath::Variant:
        if (!runVariantScan()) return;
        finishGeneralPath();
        return;
    }
}

}  // namespace arbel
