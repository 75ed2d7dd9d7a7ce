"""C declarations of libsigkit's sigkit_ API, as CFFI reads them (sigkit_api.h without macros)."""

CDEF = """
enum sigkit_status {
    SIGKIT_OK = 0, SIGKIT_E_NULL = -1, SIGKIT_E_INVALID = -2, SIGKIT_E_RECORD_SIZE = -3,
    SIGKIT_E_UNKNOWN_KIND = -4, SIGKIT_E_BAD_RATE = -5, SIGKIT_E_BUFFER_TOO_SMALL = -6,
    SIGKIT_E_NO_MEMORY = -7, SIGKIT_E_IO = -8, SIGKIT_E_FORMAT = -9, SIGKIT_E_EXISTS = -10,
    SIGKIT_E_STATE = -11, SIGKIT_E_OVERFLOW = -12, SIGKIT_E_NOT_AVAILABLE = -13,
    SIGKIT_E_FREQUENCY = -14, SIGKIT_E_CHANNELS = -15, SIGKIT_E_NOT_FOUND = -16,
    SIGKIT_E_PERMISSION = -17, SIGKIT_E_NO_SPACE = -18, SIGKIT_E_INTERNAL = -19,
    SIGKIT_E_PIPE = -20, SIGKIT_E_TRUNCATED = -21, SIGKIT_E_HEADER_LIMIT = -22
};
enum sigkit_kind {
    SIGKIT_KIND_IQ2R = 1, SIGKIT_KIND_RESAMPLE = 2, SIGKIT_KIND_CONVERT = 3,
    SIGKIT_KIND_INVERT = 4, SIGKIT_KIND_AM_CLASSIC = 5, SIGKIT_KIND_FM_CLASSIC = 6,
    SIGKIT_KIND_RATE = 7, SIGKIT_KIND_CHANNEL = 8, SIGKIT_KIND_AM = 9, SIGKIT_KIND_FM = 10,
    SIGKIT_KIND_WFM = 11, SIGKIT_KIND_USB = 12, SIGKIT_KIND_LSB = 13, SIGKIT_KIND_CW = 14,
    SIGKIT_KIND_SPECTRUM = 15
};
enum sigkit_quality {
    SIGKIT_QUALITY_LOW = 0, SIGKIT_QUALITY_MEDIUM = 1, SIGKIT_QUALITY_HIGH = 2,
    SIGKIT_QUALITY_BEST = 3
};
enum sigkit_encoding {
    SIGKIT_ENCODING_U8 = 1, SIGKIT_ENCODING_S16 = 2, SIGKIT_ENCODING_S24 = 3,
    SIGKIT_ENCODING_S32 = 4, SIGKIT_ENCODING_F32 = 5, SIGKIT_ENCODING_F64 = 6
};

typedef struct sigkit_config {
    uint32_t size; int32_t kind; double input_rate; int32_t complex_input; int32_t channels;
    double frequency; double band; double output_rate; double gain; int32_t quality;
    int32_t agc; double deemphasis_us; double deviation; double cw_pitch; double audio_low;
    double audio_high; int32_t fft_size; int32_t average;
} sigkit_config;

typedef struct sigkit_wav_info {
    uint32_t size; int32_t encoding; double rate; int32_t channels; int32_t complex_samples;
    uint64_t frames; int32_t valid_bits; uint32_t metadata; double centre_frequency;
    double start_time;
} sigkit_wav_info;

typedef struct sigkit_wav_format {
    uint32_t size; int32_t encoding; double rate; int32_t channels; uint32_t flags;
    uint32_t metadata; int32_t reserved; double centre_frequency; double start_time;
} sigkit_wav_format;

typedef struct sigkit_raw_format {
    uint32_t size; int32_t type; double rate; int32_t channels; uint32_t flags;
} sigkit_raw_format;

typedef struct sigkit_processor sigkit_processor;
typedef struct sigkit_wav_reader sigkit_wav_reader;
typedef struct sigkit_wav_writer sigkit_wav_writer;

const char* sigkit_version(int* major, int* minor, int* patch);
const char* sigkit_strerror(int status);
const char* sigkit_kind_name(int kind);
int sigkit_kind_available(int kind);
int sigkit_config_init(sigkit_config* config, int kind);
int sigkit_create(const sigkit_config* config, sigkit_processor** processor);
int sigkit_max_output(const sigkit_processor* processor, size_t in_frames, size_t* out_frames);
int sigkit_process(sigkit_processor* processor, const float* in, size_t in_frames, float* out,
                   size_t out_capacity, size_t* out_frames);
int sigkit_flush(sigkit_processor* processor, float* out, size_t out_capacity,
                 size_t* out_frames);
int sigkit_reset(sigkit_processor* processor);
int sigkit_latency(const sigkit_processor* processor, double* output_frames);
int sigkit_output_layout(const sigkit_processor* processor, int* complex_output, int* channels,
                         double* rate);
void sigkit_destroy(sigkit_processor* processor);

int sigkit_wav_open(const char* path, sigkit_wav_info* info, sigkit_wav_reader** reader);
int sigkit_wav_read(sigkit_wav_reader* reader, float* out, size_t frames, size_t* got);
void sigkit_wav_close_reader(sigkit_wav_reader* reader);
int sigkit_wav_format_init(sigkit_wav_format* shape, int encoding, double rate, int channels);
int sigkit_wav_create(const char* path, const sigkit_wav_format* shape, sigkit_wav_writer** writer);
int sigkit_wav_write(sigkit_wav_writer* writer, const float* in, size_t frames);
int sigkit_wav_clipped(const sigkit_wav_writer* writer, uint64_t* samples);
int sigkit_wav_close(sigkit_wav_writer* writer);
int sigkit_wav_abandon(sigkit_wav_writer* writer);
int sigkit_wav_read_stored(sigkit_wav_reader* reader, void* out, size_t frames, size_t* got);
int sigkit_wav_write_stored(sigkit_wav_writer* writer, const void* in, size_t frames);

int sigkit_sample_type_from_name(const char* name);
int sigkit_sample_type_from_path(const char* path);
const char* sigkit_sample_type_name(int type);
int sigkit_sample_type_layout(int type, int* sample_bytes, int* complex_type);
int sigkit_wav_open_fd(int fd, sigkit_wav_info* info, sigkit_wav_reader** reader);
int sigkit_wav_create_fd(int fd, const sigkit_wav_format* shape, sigkit_wav_writer** writer);
int sigkit_raw_format_init(sigkit_raw_format* format, int type, double rate, int channels);
int sigkit_raw_open(const char* path, const sigkit_raw_format* format, sigkit_wav_info* info,
                    sigkit_wav_reader** reader);
int sigkit_raw_open_fd(int fd, const sigkit_raw_format* format, sigkit_wav_info* info,
                       sigkit_wav_reader** reader);
int sigkit_raw_create(const char* path, const sigkit_raw_format* format,
                      sigkit_wav_writer** writer);
int sigkit_raw_create_fd(int fd, const sigkit_raw_format* format, sigkit_wav_writer** writer);

typedef struct sigkit_spectrum_request {
    uint32_t size; int32_t width; int32_t height; int32_t fft_size; double start_seconds;
    double length_seconds; double span_centre; double span_width; uint32_t metadata;
    int32_t max_stations; double centre_frequency; double start_time;
} sigkit_spectrum_request;

typedef struct sigkit_spectrum_info {
    uint32_t size; int32_t complex_samples; double rate; double low_frequency;
    double high_frequency; double bin_width; int32_t rows; int32_t columns; int32_t bins;
    uint32_t metadata; double centre_frequency; double start_time; double offset_seconds;
    double duration_seconds;
} sigkit_spectrum_info;

typedef struct sigkit_spectrum sigkit_spectrum;

int sigkit_spectrum_request_init(sigkit_spectrum_request* request);
int sigkit_spectrum_open(const char* path, const sigkit_spectrum_request* request,
                         sigkit_spectrum** spectrum);
int sigkit_spectrum_get_info(const sigkit_spectrum* spectrum, sigkit_spectrum_info* info);
int sigkit_spectrum_waterfall(const sigkit_spectrum* spectrum, float* levels, size_t capacity);
int sigkit_spectrum_average(const sigkit_spectrum* spectrum, double* frequencies, float* levels,
                            size_t capacity);
int sigkit_spectrum_picture(const sigkit_spectrum* spectrum, double db_low, double db_high,
                            uint8_t* rgb, size_t capacity, int32_t* width, int32_t* height);
int sigkit_spectrum_stations(const sigkit_spectrum* spectrum, int32_t json, char* text,
                             size_t capacity, size_t* length);
void sigkit_spectrum_destroy(sigkit_spectrum* spectrum);
"""
