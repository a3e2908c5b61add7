#pragma once

namespace arbel {

// What the reference analysis learns about the camera: flags set by the
// signature walk, the model names in the user data, the camera XML at the
// end of the file and the first bytes of the reference's audio chunks. They
// hold for one repair and steer the scan and the header that is written.
struct CameraFlags {
    // Signature walk over the top-level atoms.
    bool bNikonBrand20 = false;
    bool bNikonTag186 = false;
    bool bSignature0Bg = false;
    bool bNikonTag184Lower = false;
    bool bNikonTag184 = false;
    bool bSignature64 = false;
    bool bHero130 = false;
    bool bHero115 = false;
    bool bFC63 = false;

    // Model strings in the movie atom and its user data.
    bool bVixia = false;
    bool bGH5 = false;
    bool bH3B = false;
    bool bGH4 = false;
    bool bP520 = false;
    bool bP600 = false;

    // Canon model comparison (and, for some models, the audio signature).
    bool bCanon = false;
    bool bCanonG9XMarkII = false;
    bool bCanonG7XMarkII = false;
    bool bCanonRebelT6i = false;
    bool bCanon1DXMarkII = false;
    bool bCanon70D = false;
    bool bCanon80D = false;
    bool bCanon5DMarkIV = false;
    bool bCanonRebelT3i = false;
    bool bCanon5DMarkII = false;
    bool bCanon60D = false;
    bool bCanon6D = false;

    // Camera XML at the end of the reference.
    bool bSonyA6500 = false;
    bool bSonyAX53 = false;
    bool bSonyAX33 = false;
    bool bSonyAX1E = false;
    bool bSonyAX100 = false;
    bool bSonyA7SM2 = false;
    bool bSonyA7S = false;

    // First bytes of the reference's first and second audio chunks.
    bool bAudioFirst211C44 = false;
    bool bAudioFirst20_6C = false;
    bool bAudioSig013499 = false;
    bool bAudioSig0198DA = false;
    bool bAudioSig01_15 = false;
    bool bAudioSig01_17 = false;
    bool bAudioSig00_40 = false;
    bool bAudioSig21_55 = false;
    bool bAudioSig211A1495 = false;
    bool bAudioSig21 = false;
    bool bAudioSig91_91 = false;
    bool bAudioSigCD_CD = false;
    bool bAudioSig00_58 = false;
    bool bAudioSig78_78 = false;
    bool bAudioSig8E_8E = false;
    bool bAudioSigC6_C6 = false;
    bool bAudioSigBB_20 = false;
    bool bAudioSigB5_E0 = false;
    bool bAudioSig0C_5C = false;
    bool bAudioSig39_9D = false;
    bool bAudioSig21_FC = false;
    bool bAudioSig20_09 = false;
    bool bAudioSig20_08 = false;
    bool bAudioSig01_17Iso = false;
    bool bAudioSig01_9B2D = false;
    bool bAudioSig01_362D = false;

    bool bAudioSigGroup() const { return bAudioSig20_08 || bAudioSig01_17Iso || bAudioSig20_09; }

    bool anySony() const {
        return bSonyA6500 || bSonyAX100 || bSonyAX53 || bSonyAX33 || bSonyAX1E || bSonyA7S || bSonyA7SM2;
    }
    bool nikon184() const { return bNikonTag184 || bNikonTag184Lower; }

    // The camera flags that keep a recording away from the generic scan.
    bool excludesGenericScan() const {
        return bNikonTag184 || bNikonTag184Lower || bNikonBrand20 || bNikonTag186 || bSignature0Bg ||
               bSignature64 || bGH4 || bGH5 || bCanon5DMarkIV || bCanon80D || bCanon1DXMarkII ||
               bAudioSig0198DA || anySony();
    }

    // Clears every Canon model flag (not bCanon itself).
    void clearCanonModels() {
        bCanonG9XMarkII = bCanonG7XMarkII = bCanonRebelT6i = bCanon1DXMarkII = bCanon70D = false;
        bCanon80D = bCanon5DMarkIV = bCanonRebelT3i = bCanon5DMarkII = bCanon60D = bCanon6D = false;
    }
};

}  // namespace arbel
