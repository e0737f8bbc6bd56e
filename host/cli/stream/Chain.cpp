#include "stream/Chain.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "module/Readings.h"

namespace tonevolt {

bool Chain::Build(WBMainProc main, const ChainRequest& request, std::string* error) {
  const double module_rate = request.module_rate;
  const int file_rate = request.file_rate;
  if (module_rate != file_rate) {
    m_to_module = ResampleStage::Create(file_rate, static_cast<int>(module_rate),
                                        Resampler::Signal::kAudio, error);
    m_from_module = ResampleStage::Create(static_cast<int>(module_rate), file_rate,
                                          Resampler::Signal::kControlVoltage, error);
    if (!m_to_module || !m_from_module) return false;
  }
  if (request.prefilter.kind != PrefilterChoice::Kind::kOff) {
    m_prefilter = PrefilterStage::Create(request.prefilter, module_rate, request.gate_db, error);
    if (!m_prefilter) return false;
    m_prefilter_text = m_prefilter->Description();
  }
  if (request.check != nullptr) {
    // The following filter's melody tracker is the check's too: one pitch
    // analysis per pass.
    const MelodyTracker* melody = m_prefilter ? m_prefilter->Melody() : nullptr;
    m_check = CheckStage::Create(static_cast<int>(module_rate), *request.check, error, melody);
    if (!m_check) {
      *error = "the reliability check cannot run: " + *error;
      return false;
    }
    if (melody != nullptr) m_prefilter->ShareMelodyWith(m_check->Tracker());
  }
  // Changes at the module's own samples, none ahead of its time in the file.
  RunRequest run = request.run;
  run.sample_rate = module_rate;
  for (Change& change : run.changes)
    change.sample = static_cast<uint32_t>(
        std::min(4294967295.0, std::ceil(change.sample * module_rate / file_rate)));
  return m_module.Start(main, run, error);
}

void Chain::AddTo(Pipeline* pipeline, BlockStage* watch, BlockStage* readout) {
  // The check tracks the pitch and level of the sound before the pre-filter changes it.
  BlockStage* input_tap = m_check ? m_check->InputTap() : nullptr;
  BlockStage* hold = m_prefilter ? m_prefilter->Hold() : nullptr;
  for (BlockStage* stage : std::initializer_list<BlockStage*>{
           m_to_module.get(), input_tap, m_prefilter.get(), m_check.get(), watch, &m_module, hold,
           readout, m_from_module.get()})
    if (stage != nullptr) pipeline->AddStage(stage);
}

CsvSink::~CsvSink() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool CsvSink::Open(const StagedFile& staged, std::string* error) {
  m_name = staged.FinalPath();
  m_file = staged.OpenStream(error);
  if (m_file == nullptr) return false;
  std::setvbuf(m_file, nullptr, _IOFBF, 1 << 16);
  std::fputs("time_s,input,output_volts,implied_hz\n", m_file);
  return true;
}

bool CsvSink::Consume(const std::vector<float>& input, const std::vector<float>& output,
                      std::string* error) {
  const uint64_t end = m_position + input.size();
  for (; m_next < end; m_next = static_cast<uint64_t>(std::floor(++m_row * m_step + 0.5))) {
    size_t i = static_cast<size_t>(m_next - m_position);
    // printf's "%.6f,%.9g,%.9g,%.6g", several times faster.
    char line[160];
    char* at = line;
    char* const end = line + sizeof line;
    at = std::to_chars(at, end, m_next / m_rate, std::chars_format::fixed, 6).ptr;
    *at++ = ',';
    at = std::to_chars(at, end, double{input[i]}, std::chars_format::general, 9).ptr;
    *at++ = ',';
    at = std::to_chars(at, end, kVoltsPerUnit * output[i], std::chars_format::general, 9).ptr;
    *at++ = ',';
    at = std::to_chars(at, end, ImpliedHz(output[i], m_settings.At(m_next), m_module_rate),
                       std::chars_format::general, 6)
             .ptr;
    *at++ = '\n';
    std::fwrite(line, 1, static_cast<size_t>(at - line), m_file);
  }
  m_position = end;
  if (std::ferror(m_file)) {
    *error = "cannot write " + m_name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool CsvSink::Finish(std::string* error) {
  bool ok = !std::ferror(m_file);
  if (std::fclose(m_file) != 0) ok = false;
  m_file = nullptr;
  if (!ok) *error = "cannot write " + m_name + ": " + std::strerror(errno);
  return ok;
}

bool StatsSink::Consume(const std::vector<float>& input, const std::vector<float>& output,
                        std::string*) {
  for (float x : input)
    if (!std::isfinite(x)) ++m_non_finite;
  for (float y : output) m_range.Add(y);
  m_means.Add(output.data(), output.size());
  return true;
}

ProgressSink::~ProgressSink() {
  if (m_drawn) std::fputs("\r\033[K", stderr);
}

bool ProgressSink::Consume(const std::vector<float>& input, const std::vector<float>&,
                           std::string*) {
  m_done += input.size();
  if (!m_shown || m_done < m_next_draw) return true;
  m_next_draw = m_done + m_total / 200;
  uint64_t done = std::min(m_done, m_total);
  int width = 40, filled = static_cast<int>(width * done / m_total);
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
               std::string(width - filled, '.').c_str(), static_cast<int>(100 * done / m_total));
  std::fflush(stderr);
  m_drawn = true;
  return true;
}

}  // namespace tonevolt
