// The rows and the five statement forms on tbl_kav_jobs_prereq_training
// that both training stages write.  A row is one prerequisite course of a
// position with its type, ST or RT, and the standard "NATIONAL", its six
// fields assigned as text.  The statements differ only in their codes; each
// form is built here once, with exactly the blanks and keyword case the
// stored texts have.

#ifndef KAV_STAGES_TRAINING_PREREQUISITES_H_
#define KAV_STAGES_TRAINING_PREREQUISITES_H_

#include <string>
#include <vector>

#include "stages/stage.h"

namespace kav::stages {

// `job` of risk type `risk_type` requires `course` of `course_risk_type`,
// with the type `type`.
RowStep Prerequisite(const std::string& risk_type, const std::string& job,
                     const std::string& course_risk_type, const std::string& course,
                     const std::string& type);
// The same for a "WF" position and a "WF" course.
RowStep Prerequisite(const std::string& job, const std::string& course, const std::string& type);

// Deletes the rows of `job` that name `course`.
SqlStep DeleteCourse(const std::string& job, const std::string& course);
// Deletes the rows of `job` that name any of `courses`.
SqlStep DeleteCourseList(const std::string& job, const std::vector<std::string>& courses);
// Deletes every row of `job`.
SqlStep DeletePosition(const std::string& job);
// Changes the course of the rows of `job` from `from` to `to`, in place:
// the rows keep their type.
SqlStep ReplaceCourse(const std::string& job, const std::string& from, const std::string& to);
// Sets the type of the rows of `job` that name `course`.
SqlStep SetType(const std::string& job, const std::string& course, const std::string& type);

}  // namespace kav::stages

#endif  // KAV_STAGES_TRAINING_PREREQUISITES_H_
