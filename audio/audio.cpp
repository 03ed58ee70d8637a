#include "audio/audio.h"

#include <cstdlib>
#include <iostream>

#ifdef SC_QUIET_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef SC_QUIET_JACK
#include <jack/jack.h>
#endif

namespace classification {

namespace {

#ifdef SC_QUIET_ALSA
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif
#ifdef SC_QUIET_JACK
void quietJack(const char*) {}
#endif

// PortAudio probes every ALSA device and a JACK server that may not be
// running; the libraries report each failed probe, pages of lines that bury
// the program's own message. They are quiet while PortAudio looks (and JACK
// is not started for it); what fails for the program is reported by it.
bool initializeQuietly() {
#ifndef _WIN32
  setenv("JACK_NO_START_SERVER", "1", 0);
#endif
#ifdef SC_QUIET_ALSA
  snd_lib_error_set_handler(quietAlsa);
#endif
#ifdef SC_QUIET_JACK
  jack_set_error_function(quietJack);
  jack_set_info_function(quietJack);
#endif
  const bool ok = Pa_Initialize() == paNoError;
#ifdef SC_QUIET_ALSA
  snd_lib_error_set_handler(nullptr);
#endif
#ifdef SC_QUIET_JACK
  jack_set_error_function(nullptr);
  jack_set_info_function(nullptr);
#endif
  return ok;
}

}  // namespace

MAudio::MAudio(XmlNode* systemRoot)
    : sampleRate(cfg::getIntAtLeast(systemRoot, "AudioCapturing", "Fs", 1)),
      framesPerBuffer(cfg::getIntAtLeast(systemRoot, "AudioCapturing", "NBlock", 1)) {
  initDevice();
}

MAudio::MAudio(int sampleRate_, int framesPerBuffer_)
    : sampleRate(sampleRate_), framesPerBuffer(framesPerBuffer_) {
  initDevice();
}

MAudio::~MAudio() {
  if (stream) Pa_CloseStream(stream);
  if (paInitialized) Pa_Terminate();
  if (callbackReady) delete[] context.displayStorage;
  delete[] deviceList;
}

void MAudio::initDevice() {
  running = false;
  delete[] deviceList;
  deviceList = nullptr;
  paInitialized = initializeQuietly();

  inputParameters.device = paInitialized ? Pa_GetDefaultInputDevice() : paNoDevice;
  if (inputParameters.device == paNoDevice) {
    std::cout << "Error: No default input device" << std::endl;
  } else {
    inputParameters.channelCount = 1;
    inputParameters.sampleFormat = paFloat32;
    inputParameters.suggestedLatency =
        Pa_GetDeviceInfo(inputParameters.device)->defaultLowInputLatency;
    inputParameters.hostApiSpecificStreamInfo = nullptr;
  }
  outputParameters.device = paInitialized ? Pa_GetDefaultOutputDevice() : paNoDevice;
  if (outputParameters.device == paNoDevice) {
    std::cout << "Error: No default output device" << std::endl;
  } else {
    outputParameters.channelCount = 1;
    outputParameters.sampleFormat = paFloat32;
    outputParameters.suggestedLatency =
        Pa_GetDeviceInfo(outputParameters.device)->defaultHighOutputLatency;
    outputParameters.hostApiSpecificStreamInfo = nullptr;
  }
}

bool MAudio::initCallback(MSegmentator* segmentator, XmlNode* userRoot,
                          PaStreamCallback* callback) {
  XmlNode* gui = cfg::element(userRoot, "GraphicalUserInterface");
  context.decimation = cfg::getIntAtLeast(userRoot, "GraphicalUserInterface", "M", 1);
  const double dispInterval = cfg::real(cfg::element(gui, "DispInterval"));
  const int64_t size = displayRingSize(dispInterval, sampleRate, context.decimation);
  if (!callbackReady) {
    context.displayStorage = new double[static_cast<size_t>(size)];
    InitializeRingBuffer(&context.displayRing, 8, size, context.displayStorage);
  }
  callbackReady = true;
  context.segmentator = segmentator;

  if (inputParameters.device == paNoDevice) return false;
  if (Pa_OpenStream(&stream, &inputParameters, nullptr, sampleRate,
                    static_cast<unsigned long>(framesPerBuffer), paNoFlag, callback,
                    &context) != paNoError) {
    stream = nullptr;
    return false;
  }
  if (Pa_StartStream(stream) != paNoError) return false;
  std::cout << "Init Callback succesful" << std::endl;
  running = true;
  return true;
}

bool MAudio::stopStream() {
  if (!stream) {
    running = false;
    return true;
  }
  const PaError err = Pa_CloseStream(stream);
  stream = nullptr;
  running = false;
  return err == paNoError;
}

bool MAudio::openBlocking(bool input, const char* message) {
  const PaStreamParameters& params = input ? inputParameters : outputParameters;
  if (params.device == paNoDevice) return false;
  if (Pa_OpenStream(&stream, input ? &params : nullptr, input ? nullptr : &params, sampleRate,
                    static_cast<unsigned long>(framesPerBuffer), paNoFlag, nullptr, nullptr) != paNoError) {
    stream = nullptr;
    return false;
  }
  if (Pa_StartStream(stream) != paNoError) return false;
  std::cout << message << std::endl;
  running = true;
  return true;
}

bool MAudio::start_recordStream() { return openBlocking(true, "Start reading"); }

bool MAudio::readBuffer(float* buffer) {
  if (Pa_ReadStream(stream, buffer, static_cast<unsigned long>(framesPerBuffer)) != paNoError) {
    std::cout << "Buffer Overflowed while recording";
    return false;
  }
  return true;
}

bool MAudio::startPlayStream() { return openBlocking(false, "Start writing!"); }

bool MAudio::writeBuffer(float* buffer) {
  if (Pa_WriteStream(stream, buffer, static_cast<unsigned long>(framesPerBuffer)) != paNoError) {
    std::cout << "Buffer Underflowed while playing";
    return false;
  }
  return true;
}

void MAudio::setFramesbuffer(int frames) {
  framesPerBuffer = frames;
  if (running) stopStream();
}

bool MAudio::setSamplingRate(int rate) {
  if (inputParameters.device == paNoDevice ||
      Pa_IsFormatSupported(&inputParameters, nullptr, rate) != paFormatIsSupported)
    return false;
  if (running) stopStream();
  sampleRate = rate;
  return true;
}

void MAudio::setDevice(int device) {
  if (running) stopStream();
  inputParameters.device = device;
}

const PaDeviceInfo** MAudio::getDevices() {
  if (!deviceList) {
    const int count = Pa_GetDeviceCount();
    if (count < 0) {
      std::cout << "ERROR: Pa_GetDeviceCount";
      return nullptr;
    }
    deviceList = new const PaDeviceInfo*[static_cast<size_t>(count) + 1];
    for (int i = 0; i < count; ++i) deviceList[i] = Pa_GetDeviceInfo(i);
  }
  return deviceList;
}

void MAudio::printDevices() {
  if (!getDevices()) return;
  const int count = Pa_GetDeviceCount();
  for (int i = 0; i < count; ++i) {
    const PaDeviceInfo* info = deviceList[i];
    if (!info || info->maxInputChannels <= 0) continue;
    std::cout << "--------------------------------------------------" << std::endl;
    std::cout << "Input Device with device number: " << i << std::endl;
    if (i == Pa_GetDefaultInputDevice()) {
      std::cout << "This device is the global default device (default device and default host api)"
                << std::endl;
    } else {
      const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
      if (api && i == api->defaultInputDevice)
        std::cout << "This device is the host api specific default device" << std::endl;
    }
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    std::cout << "Name                 = " << info->name << std::endl;
    std::cout << "Host API             = " << (api ? api->name : "") << std::endl;
    std::cout << "Default sample rate  = " << info->defaultSampleRate << std::endl;
  }
}

}  // namespace classification
